// Thread that handles work items posted from any thread, in order.
#pragma once

#include <deque>

#include "foundation/base_thread.h"
#include "foundation/lock.h"

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
    // As PostWorkItem, dropping the oldest items so that at most 16 are queued.
    bool PostWorkItemBounded(T* item) { return Post(item, true); }

protected:
    virtual void HandleWorkItem(T* item) = 0;

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
        while (bounded && queue.size() >= BOUNDED_CAPACITY) {
            delete queue.front();
            queue.pop_front();
        }
        queue.push_back(item);
        itemEvent.Set();
        return true;
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
