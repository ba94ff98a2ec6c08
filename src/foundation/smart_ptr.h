// Reference-counting pointer with a signed 8-bit count. Counts are not interlocked: holders
// create and release copies under their owner's lock.
#pragma once

#include <cstdint>
#include <new>

template <typename T>
class TSmartPtr {
public:
    static constexpr int8_t MAX_HOLDERS = 127;

    TSmartPtr() = default;
    explicit TSmartPtr(T* p) { Assign(p); }
    TSmartPtr(const TSmartPtr& other) { CopyFrom(other); }
    TSmartPtr& operator=(const TSmartPtr& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    virtual ~TSmartPtr() { Release(); }

    // Releases what is held, then holds `p` with a count of 1 (null holds nothing).
    void Assign(T* p) {
        Release();
        if (!p)
            return;
        count = new (std::nothrow) int8_t(1);
        if (!count) {
            delete p;
            return;
        }
        object = p;
    }

    T* Get() const { return object; }
    T* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }
    int8_t Count() const { return count ? *count : 0; }

private:
    // A copy beyond the 127th holder is refused (it holds nothing): an 8-bit count that
    // wrapped would delete the object while others still use it.
    void CopyFrom(const TSmartPtr& other) {
        if (!other.object || !other.count || *other.count <= 0 || *other.count >= MAX_HOLDERS)
            return;
        ++*other.count;
        count = other.count;
        object = other.object;
    }

    void Release() {
        if (count && *count > 0 && --*count == 0) {
            delete object;
            delete count;
        }
        count = nullptr;
        object = nullptr;
    }

    int8_t* count = nullptr;
    T* object = nullptr;
};
