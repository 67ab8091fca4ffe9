#include "keys/keyprobe.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace keys::testing {

KeyProbe::KeyProbe() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl(VORLIX_KEYPROBE, VORLIX_KEYPROBE, nullptr);
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
    std::string line;
    ready_ = pid_ > 0 && readLine(line, std::chrono::steady_clock::now() + std::chrono::seconds(5)) && line == "ready";
}

KeyProbe::~KeyProbe() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

bool KeyProbe::readLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
            line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer_.append(chunk, size_t(n));
    }
}

std::vector<std::string> KeyProbe::read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (std::string line; lines.size() < count && readLine(line, deadline);)
        lines.push_back(line);
    return lines;
}

} // namespace keys::testing
