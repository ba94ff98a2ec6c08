// tavrin-host's alarm and motion face: options that start the driver's I/O, set outputs, ask for
// motion detection and script the bundled simulator's inputs and motion; live lines for every
// input change and motion record.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/capture_sink.h"
#include "host/io_sink.h"
#include "norvane/io.h"

namespace camsim {
class Camera;
}

namespace host {

struct IOOptions {
    bool io = false;      // start the I/O object and print input changes
    bool motion = false;  // ask for motion detection on every channel
    int inputs = -1;      // alarm inputs the host configures (-1: the simulator's count, else 0)
    int outputs = -1;
    std::vector<std::string> setOutputs;  // "N=0|1"
    std::vector<std::string> alarms;      // the bundled simulator's script
};

// Gives the device the I/O counts (the simulator's unless given) and the simulator its script;
// false with the reason for a script that does not parse. `simulator` may be null.
bool ApplyIOOptions(const IOOptions& options, camsim::Camera* simulator, int& inputs, int& outputs,
                    std::string& error);
// "N=0|1" as (index, state): 1 drives the output active (state 2), 0 inactive (state 1).
bool ParseOutputSetting(const std::string& text, std::pair<int, int>& setting);
// "2024-05-01T12:00:00.040Z channel 0 motion on".
std::string DescribeMotionRecord(unsigned channel, const DeliveredFrame& frame);

// Runs the driver's I/O for a streaming run: prints each event, sets the requested outputs.
class IOSession {
public:
    IOSession(norvane::ICaptureIOApi* io, std::FILE* out);
    ~IOSession();
    // Starts I/O and queues the outputs; false with the reason.
    bool Start(const IOOptions& options, std::string& error);
    void Stop();
    IOEventSink& Sink() { return sink_; }

private:
    norvane::ICaptureIOApi* io_;
    std::FILE* out_;
    IOEventSink sink_;
    bool started_ = false;
};

}  // namespace host
