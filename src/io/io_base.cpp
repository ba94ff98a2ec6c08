#include "io/io_base.h"

#include <new>

#include "foundation/no_throw.h"

namespace norvane {

namespace {
constexpr const char* OUTPUT_THREAD_NAME = "Digital Output thread";
constexpr const char* INPUT_THREAD_NAME = "Digital Input thread";
}  // namespace

CIOBase::CIOBase(IDriver* driver)
    : driver(driver),
      outputHandler(driver, this),
      inputTicker(driver, this, &CIOBase::PollStep) {
    inputTicker.SetInterval(POLL_INTERVAL_MS);
}

CIOBase::~CIOBase() {
    SignalStop();
    JoinThreads();
}

bool CIOBase::SetEventSink(IIOEventSink* eventSink) {
    if (!eventSink)
        return false;
    sink = eventSink;
    return true;
}

int CIOBase::GetInputCount() { return static_cast<int>(driver->GetIOCounts().first); }

int CIOBase::GetOutputCount() { return static_cast<int>(driver->GetIOCounts().second); }

bool CIOBase::SetOutput(int index, int state) {
    auto* request = new (std::nothrow) COutputState(index, state);
    return request && outputHandler.PostWorkItemBounded(request);
}

void CIOBase::ResetStates() {
    const auto [inputs, outputs] = driver->GetIOCounts();
    CLockGuard guard(stateLock);
    inputStates.clear();
    outputStates.clear();
    for (unsigned i = 0; i < outputs; ++i)
        outputStates[i] = IO_STATE_UNKNOWN;
    for (unsigned i = 0; i < inputs; ++i)
        inputStates[i] = IO_STATE_UNKNOWN;
}

bool CIOBase::StartIO() {
    return NoThrow(false, [this] { return StartThreads(); });
}

bool CIOBase::StartThreads() {
    ResetStates();
    bool result = true;
    if (GetOutputCount() != 0) {
        if (outputHandler.OpenQueue(OUTPUT_THREAD_NAME))
            InitializeOutputs();
        else
            result = false;
    }
    if (GetInputCount() == 0)
        return result;
    return inputTicker.StartImmediate(INPUT_THREAD_NAME) && result;
}

// The queued writes go out as any other: the camera's outputs are made inactive at start, and a
// host write racing them is never taken for one already done.
int CIOBase::InitializeOutputs() {
    const int count = GetOutputCount();
    for (int i = 0; i < count; ++i)
        SetOutput(i, IO_STATE_INACTIVE);
    return count;
}

void CIOBase::OnOutputState(unsigned index, int state) {
    {
        CLockGuard guard(stateLock);
        const auto it = outputStates.find(index);
        if (it == outputStates.end() || it->second == state)
            return;
        it->second = state;
    }
    if (!WriteOutput(static_cast<int>(index), state))
        ReportFailure();
}

int CIOBase::PollStep() {
    if (!PollInputs())
        ReportFailure();
    return 0;
}

void CIOBase::ReportFailure() {
    ResetStates();
    if (IIOEventSink* target = sink.load())
        target->OnIOFailure();
}

void CIOBase::InputChanged(unsigned index, int state) {
    {
        CLockGuard guard(stateLock);
        const auto it = inputStates.find(index);
        if (it == inputStates.end() || it->second == state)
            return;
        it->second = state;
    }
    if (IIOEventSink* target = sink.load())
        target->OnInputChanged(index, state);
}

void CIOBase::SignalStop() {
    OutputStopEvent().Set();
    InputStopEvent().Set();
}

bool CIOBase::JoinThreads() {
    const bool outputStopped = outputHandler.CloseQueue();
    const bool inputStopped = inputTicker.StopTick();
    return outputStopped && inputStopped;
}

bool CIOBase::StopIO() {
    return NoThrow(false, [this] {
        SignalStop();
        CloseConnections();
        const bool stopped = JoinThreads();
        ResetStates();
        return stopped;
    });
}

}  // namespace norvane
