// Camera-independent digital I/O: inputs polled on their own thread, outputs written from a
// queue on another, the last known state of each, and the host's notification.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>

#include "foundation/idriver.h"
#include "foundation/lock.h"
#include "io/input_ticker.h"
#include "io/output_handler.h"
#include "norvane/io.h"

namespace norvane {

// States of inputs and outputs.
constexpr int IO_STATE_UNKNOWN = 0;  // after a reset
constexpr int IO_STATE_INACTIVE = 1;
constexpr int IO_STATE_ACTIVE = 2;  // outputs: any value but 1

class CIOBase : public TBoundaryObject<ICaptureIOApi> {
public:
    static constexpr unsigned POLL_INTERVAL_MS = 3000;
    // Output requests waiting for the camera; past this many an output's older request is
    // dropped (the oldest of all only when each queued item is its output's last), so a camera
    // that stays offline while the host toggles outputs cannot grow the queue.
    static constexpr size_t OUTPUT_QUEUE_LIMIT = CQueueThread<COutputState>::BOUNDED_CAPACITY;

    explicit CIOBase(IDriver* driver);
    // Stops both threads. A derived class whose members the threads use stops them first
    // (StopIO in its own destructor).
    ~CIOBase() override;
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    bool SetEventSink(IIOEventSink* sink) override;
    bool StartIO() override;
    bool StopIO() override;
    int GetInputCount() override;
    int GetOutputCount() override;
    bool SetOutput(int index, int state) override;

    // Output thread: writes the state when it differs from the last one written.
    virtual void OnOutputState(unsigned index, int state);
    // Queues every output inactive; returns the output count.
    virtual int InitializeOutputs();

    // Tests shorten the production poll interval.
    void SetPollInterval(unsigned milliseconds) { inputTicker.SetInterval(milliseconds); }

protected:
    virtual bool WriteOutput(int index, int state) = 0;
    virtual bool PollInputs() = 0;
    virtual void CloseConnections() = 0;

    void ResetStates();
    // Reports the input's state when it differs from the known one.
    void InputChanged(unsigned index, int state);

    IDriver* GetDriver() const { return driver; }
    CManualEvent& InputStopEvent() { return inputTicker.GetStopEvent(); }
    CManualEvent& OutputStopEvent() { return outputHandler.GetStopEvent(); }

private:
    bool StartThreads();
    int PollStep();
    // States reset and the host told, after a failed read or write.
    void ReportFailure();
    void SignalStop();
    bool JoinThreads();

    IDriver* driver;
    TOutputHandler<CIOBase> outputHandler;
    TInputTicker<CIOBase> inputTicker;
    std::atomic<IIOEventSink*> sink{nullptr};
    CLock stateLock;  // guards both maps; never held across a camera request or a sink call
    std::map<unsigned, int> inputStates;
    std::map<unsigned, int> outputStates;
};

}  // namespace norvane
