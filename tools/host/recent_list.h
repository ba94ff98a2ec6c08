// The most recent records of a host callback: a camera that talks without end (a log storm, an
// input that toggles all day) costs the host a fixed amount of memory, and what fell off the front
// is counted.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

namespace host {

template <typename T>
class RecentList {
public:
    // `capacity` of at least 1.
    explicit RecentList(size_t capacity) : capacity_(capacity) {}

    void Add(T item) {
        if (items_.size() == capacity_) {
            items_.pop_front();
            ++dropped_;
        }
        items_.push_back(std::move(item));
    }
    void Clear() {
        items_.clear();
        dropped_ = 0;
    }
    std::vector<T> Copy() const { return {items_.begin(), items_.end()}; }
    const std::deque<T>& Items() const { return items_; }
    // Records given up to keep the list within its capacity.
    size_t Dropped() const { return dropped_; }

private:
    size_t capacity_;
    std::deque<T> items_;
    size_t dropped_ = 0;
};

}  // namespace host
