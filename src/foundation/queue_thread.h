// Thread that handles work items posted from any thread, in order.
#pragma once

#include <deque>

#include "foundation/base_thread.h"
#include "foundation/lock.h"
#include "foundation/no_throw.h"

namespace norvane {

template <typename T>
class CQueueThread : public CBaseThread {
public:
    static constexpr size_t BOUNDED_CAPACITY = 16;

    explicit CQueueThread(IDriver* driver) : CBaseThread(driver) {}
    ~CQueueThread() override {
        JoinThread(5000);
        DiscardItems();
    }

    virtual bool OpenQueue(const std::string& name) {
        itemEvent.Reset();
        return Start(name);
    }

    virtual bool CloseQueue() {
        StopEvent().Set();
        DiscardItems();
        return JoinThread(5000);
    }

    // Takes ownership of `item`; refused (and deleted) once the stop event is signalled.
    bool PostWorkItem(T* item) { return Post(item, false); }
    // As PostWorkItem, so that at most 16 are queued: when full, the oldest item that a newer one
    // supersedes goes, or else the oldest.
    bool PostWorkItemBounded(T* item) { return Post(item, true); }

protected:
    virtual void HandleWorkItem(T* item) = 0;
    // True when a queued `older` item need not be handled once `newer` is queued.
    virtual bool Supersedes(const T& /*newer*/, const T& /*older*/) const { return false; }

    void Run() override {
        const EventPair events{&StopEvent(), &itemEvent};
        while (!IsStopSignalled()) {
            if (WaitForStopOrItem(&events, 1000) != 1)
                continue;
            while (T* item = Pop()) {
                if (IsStopSignalled()) {
                    delete item;
                    break;
                }
                try {
                    HandleWorkItem(item);
                } catch (...) {
                    // A failing item must not end the queue.
                }
                delete item;
            }
        }
    }

private:
    bool Post(T* item, bool bounded) {
        if (IsStopSignalled()) {
            delete item;
            return false;
        }
        CLockGuard guard(queueLock);
        if (!NoThrow(false, [&] {
                queue.push_back(item);
                return true;
            })) {
            delete item;
            return false;
        }
        while (bounded && queue.size() > BOUNDED_CAPACITY) {
            const auto dropped = OldestSuperseded();
            delete *dropped;
            queue.erase(dropped);
        }
        itemEvent.Set();
        return true;
    }

    // The oldest item that a newer one supersedes; the oldest when there is none.
    typename std::deque<T*>::iterator OldestSuperseded() {
        for (auto older = queue.begin(); older != queue.end(); ++older) {
            for (auto newer = older + 1; newer != queue.end(); ++newer) {
                if (Supersedes(**newer, **older))
                    return older;
            }
        }
        return queue.begin();
    }

    T* Pop() {
        CLockGuard guard(queueLock);
        if (queue.empty())
            return nullptr;
        T* item = queue.front();
        queue.pop_front();
        return item;
    }

    void DiscardItems() {
        CLockGuard guard(queueLock);
        for (T* item : queue)
            delete item;
        queue.clear();
    }

    CEvent itemEvent{false};
    CLock queueLock;
    std::deque<T*> queue;
};

}  // namespace norvane
