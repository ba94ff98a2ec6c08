// tavrin-camsim run as a separate process on fixed loopback ports, so that a long host run can
// take the camera away and bring it back, and so that the host's own figures are its alone.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// A loopback TCP port free at the time of asking; 0 when none could be had.
uint16_t FreeLoopbackPort();

class CamsimProcess {
public:
    // `program` is the tavrin-camsim executable, `arguments` its options besides the ports;
    // its output is appended to `logPath`.
    CamsimProcess(std::string program, std::vector<std::string> arguments, std::string logPath);
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    // Picks the ports once; later starts reuse them.
    bool ChoosePorts();
    uint16_t HttpPort() const { return httpPort_; }
    uint16_t RtspPort() const { return rtspPort_; }

    // Starts the process and waits (bounded) until its HTTP port accepts; false with the reason.
    bool Start(std::chrono::milliseconds limit, std::string& error);
    // SIGTERM, then waits (bounded) for the exit; false with the reason when it had to be killed
    // or ended other than with status 0 (a sanitizer report ends it with another status).
    bool Stop(std::chrono::milliseconds limit, std::string& error);
    bool Running() const { return pid_ > 0; }

private:
    // True once the child has ended; its wait status in `status`.
    bool Reaped(int& status);

    const std::string program_;
    const std::vector<std::string> arguments_;
    const std::string logPath_;
    uint16_t httpPort_ = 0;
    uint16_t rtspPort_ = 0;
    pid_t pid_ = -1;
};

// "exit 0", "exit 66" or "signal 6" for a wait status.
std::string DescribeWaitStatus(int status);

}  // namespace host
