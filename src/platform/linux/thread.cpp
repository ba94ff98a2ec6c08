#include "platform/thread.h"

#include <atomic>
#include <thread>

#include "platform/event.h"
#include "platform/system.h"

namespace norvane::platform {

struct Thread::State {
    Event ended{true};
    Event idKnown{true};
    Event go{true};  // the body starts once the owner has published this state
    std::atomic<unsigned> id{0};
    std::atomic<unsigned> exitCode{0};
    std::thread thread;
};

Thread::~Thread() { Close(); }

bool Thread::Start(Procedure procedure, void* argument) {
    Close();
    auto state = std::make_shared<State>();
    state_ = state;
    try {
        state->thread = std::thread([state, procedure, argument] {
            state->id = CurrentThreadId();
            state->idKnown.Set();
            state->go.Wait(WAIT_INFINITE);
            state->exitCode = procedure(argument);
            state->ended.Set();
        });
    } catch (...) {
        state_.reset();
        return false;
    }
    state->idKnown.Wait(WAIT_INFINITE);
    state->go.Set();
    return true;
}

bool Thread::IsRunning() const { return state_ && !state_->ended.IsSet(); }

bool Thread::WaitEnded(unsigned milliseconds) {
    return !state_ || state_->ended.Wait(milliseconds);
}

void Thread::Close() {
    if (!state_)
        return;
    if (state_->thread.joinable()) {
        if (IsCurrent())
            state_->thread.detach();
        else
            state_->thread.join();
    }
    state_.reset();
}

unsigned Thread::Id() const { return state_ ? state_->id.load() : 0; }

bool Thread::IsCurrent() const { return state_ && state_->id == CurrentThreadId(); }

unsigned Thread::ExitCode() const { return state_ ? state_->exitCode.load() : 0; }

}  // namespace norvane::platform
