#include "host/camsim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace host {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(20);

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool Accepts(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    const sockaddr_in address = Loopback(port);
    const bool connected =
        connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return connected;
}

}  // namespace

uint16_t FreeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

std::string DescribeWaitStatus(int status) {
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

CamsimProcess::CamsimProcess(std::string program, std::vector<std::string> arguments,
                             std::string logPath)
    : program_(std::move(program)),
      arguments_(std::move(arguments)),
      logPath_(std::move(logPath)) {}

CamsimProcess::~CamsimProcess() {
    std::string ignored;
    Stop(std::chrono::seconds(5), ignored);
}

bool CamsimProcess::ChoosePorts() {
    httpPort_ = FreeLoopbackPort();
    rtspPort_ = FreeLoopbackPort();
    return httpPort_ && rtspPort_ && httpPort_ != rtspPort_;
}

bool CamsimProcess::Start(std::chrono::milliseconds limit, std::string& error) {
    if (pid_ > 0) {
        error = "already running";
        return false;
    }
    std::vector<std::string> args{program_, "--http-port", std::to_string(httpPort_), "--rtsp-port",
                                  std::to_string(rtspPort_)};
    args.insert(args.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The host may block signals for a waiting thread; the simulator must see SIGTERM.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program_.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        error = "cannot start " + program_;
        return false;
    }
    pid_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (int status = 0; std::chrono::steady_clock::now() < deadline;) {
        if (Reaped(status)) {
            error = "the simulator ended at start (" + DescribeWaitStatus(status) + ")";
            return false;
        }
        if (Accepts(httpPort_) && Accepts(rtspPort_))
            return true;
        std::this_thread::sleep_for(kPollStep);
    }
    error = "the simulator did not listen in time";
    std::string ignored;
    Stop(std::chrono::seconds(5), ignored);
    return false;
}

bool CamsimProcess::Stop(std::chrono::milliseconds limit, std::string& error) {
    if (pid_ <= 0)
        return true;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (!Reaped(status)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            error = "the simulator did not end on SIGTERM and was killed";
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    error = "the simulator ended with " + DescribeWaitStatus(status);
    return false;
}

bool CamsimProcess::Reaped(int& status) {
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    pid_ = -1;
    return true;
}

}  // namespace host
