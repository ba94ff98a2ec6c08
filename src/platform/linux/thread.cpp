#include "platform/thread.h"

#include <pthread.h>

#include <atomic>

#include "platform/event.h"
#include "platform/system.h"

namespace norvane::platform {

struct Thread::State {
    Event ended{true};
    Event idKnown{true};
    Event go{true};  // the body starts once the owner has published this state
    std::atomic<unsigned> id{0};
    std::atomic<unsigned> exitCode{0};
    Procedure procedure = nullptr;
    void* argument = nullptr;
    pthread_t thread{};

    // Takes over the reference `self` points to.
    static void* Entry(void* self) {
        const std::unique_ptr<std::shared_ptr<State>> reference(
            static_cast<std::shared_ptr<State>*>(self));
        State& state = **reference;
        state.id = CurrentThreadId();
        state.idKnown.Set();
        state.go.Wait(WAIT_INFINITE);
        state.exitCode = state.procedure(state.argument);
        state.ended.Set();
        return nullptr;
    }
};

Thread::~Thread() { Close(); }

bool Thread::Start(Procedure procedure, void* argument) {
    Close();
    auto state = std::make_shared<State>();
    state->procedure = procedure;
    state->argument = argument;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    auto* reference = new std::shared_ptr<State>(state);
    const bool started = pthread_attr_setstacksize(&attributes, kThreadStackReservation) == 0 &&
                         pthread_create(&state->thread, &attributes, &State::Entry, reference) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) {
        delete reference;
        return false;
    }
    state_ = state;
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
    if (IsCurrent())
        pthread_detach(state_->thread);
    else
        pthread_join(state_->thread, nullptr);
    state_.reset();
}

unsigned Thread::Id() const { return state_ ? state_->id.load() : 0; }

bool Thread::IsCurrent() const { return state_ && state_->id == CurrentThreadId(); }

unsigned Thread::ExitCode() const { return state_ ? state_->exitCode.load() : 0; }

}  // namespace norvane::platform
