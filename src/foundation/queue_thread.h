// Thread that handles work items posted from any thread, in order.
#pragma once

#include <algorithm>
#include <deque>

#include "foundation/base_thread.h"
#include "foundation/lock.h"
#include "foundation/no_throw.h"

namespace norvane {

template <typename T>
class CQueueThread : public CBaseThread {
public:
    static constexpr size_t BOUNDED_CAPACITY = 16;

    explicit CQueueThread(IDriver* driver) : CBaseThread(driver) { idleEvent.Set(); }
    ~CQueueThread() override {
        JoinThread(5000);
        DiscardItems();
    }

    virtual bool OpenQueue(const std::string& name) {
        itemEvent.Reset();
        {
            CLockGuard guard(queueLock);
            refusing = false;
        }
        return Start(name);
    }

    virtual bool CloseQueue() {
        StopEvent().Set();
        DiscardItems();
        return JoinThread(5000);
    }

    // Refuses further items, then waits up to the limit until every item posted before has been
    // handled; true when they all were. The thread keeps running either way.
    bool DrainQueue(unsigned milliseconds) {
        {
            CLockGuard guard(queueLock);
            refusing = true;
        }
        return idleEvent.Wait(milliseconds);
    }

    // Takes ownership of `item`; refused (and deleted) once the stop event is signalled or a
    // drain began.
    bool PostWorkItem(T* item) { return Post(item, false); }
    // As PostWorkItem, so that at most 16 are queued: when full, the oldest item that a newer one
    // supersedes goes, or else the oldest one that may be dropped.
    bool PostWorkItemBounded(T* item) { return Post(item, true); }

protected:
    virtual void HandleWorkItem(T* item) = 0;
    // True when a queued `older` item need not be handled once `newer` is queued.
    virtual bool Supersedes(const T& /*newer*/, const T& /*older*/) const { return false; }
    // False for an item that must reach its handler even when the queue is full.
    virtual bool MayDrop(const T& /*item*/) const { return true; }

    void Run() override {
        const EventPair events{&StopEvent(), &itemEvent};
        while (!IsStopSignalled()) {
            if (WaitForStopOrItem(&events, 1000) != 1)
                continue;
            while (T* item = Pop()) {
                if (IsStopSignalled()) {
                    delete item;
                    FinishItem();
                    break;
                }
                try {
                    HandleWorkItem(item);
                } catch (...) {
                    // A failing item must not end the queue.
                }
                delete item;
                FinishItem();
            }
        }
    }

private:
    bool Post(T* item, bool bounded) {
        CLockGuard guard(queueLock);
        if (refusing || IsStopSignalled()) {
            delete item;
            return false;
        }
        if (!NoThrow(false, [&] {
                queue.push_back(item);
                return true;
            })) {
            delete item;
            return false;
        }
        idleEvent.Reset();
        while (bounded && queue.size() > BOUNDED_CAPACITY) {
            const auto dropped = OldestSuperseded();
            delete *dropped;
            queue.erase(dropped);
        }
        itemEvent.Set();
        return true;
    }

    // The oldest item that a newer one supersedes; else the oldest that may be dropped; else the
    // oldest.
    typename std::deque<T*>::iterator OldestSuperseded() {
        for (auto older = queue.begin(); older != queue.end(); ++older) {
            for (auto newer = older + 1; newer != queue.end(); ++newer) {
                if (Supersedes(**newer, **older))
                    return older;
            }
        }
        const auto droppable =
            std::find_if(queue.begin(), queue.end(), [this](const T* item) { return MayDrop(*item); });
        return droppable != queue.end() ? droppable : queue.begin();
    }

    T* Pop() {
        CLockGuard guard(queueLock);
        if (queue.empty())
            return nullptr;
        T* item = queue.front();
        queue.pop_front();
        handling = true;
        return item;
    }

    // The handled item is gone: idle once nothing else waits.
    void FinishItem() {
        CLockGuard guard(queueLock);
        handling = false;
        if (queue.empty())
            idleEvent.Set();
    }

    void DiscardItems() {
        CLockGuard guard(queueLock);
        for (T* item : queue)
            delete item;
        queue.clear();
        if (!handling)
            idleEvent.Set();
    }

    CEvent itemEvent{false};
    CManualEvent idleEvent;  // set while no item waits or is being handled
    CLock queueLock;         // guards the members below
    std::deque<T*> queue;
    bool handling = false;  // an item is being handled
    bool refusing = false;  // a drain began: no more items
};

}  // namespace norvane
