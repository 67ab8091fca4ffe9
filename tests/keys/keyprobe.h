#pragma once

// Runs the key probe (a focused window of another process) and collects the key names it prints.
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace keys::testing {

class KeyProbe {
public:
    // `program` prints "ready", then a line per key: the X11 probe by default, or the Wayland one.
#ifdef VORLIX_KEYPROBE
    explicit KeyProbe(const char* program = VORLIX_KEYPROBE) {
#else
    explicit KeyProbe(const char* program) {
#endif
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        if ((pid_ = fork()) == 0) {
            dup2(fds[1], STDOUT_FILENO);
            execl(program, program, nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        ready_ = pid_ > 0 && read(1, std::chrono::seconds(5)) == std::vector<std::string>{"ready"};
    }
    ~KeyProbe() {
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
        if (out_ >= 0) close(out_);
    }
    KeyProbe(const KeyProbe&) = delete;
    KeyProbe& operator=(const KeyProbe&) = delete;

    // Whether the window is up and has the focus.
    bool ready() const {
        return ready_;
    }

    // The next `count` key names, fewer when they do not come within `timeout`.
    std::vector<std::string> read(size_t count, std::chrono::milliseconds timeout) {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (size_t nl; lines.size() < count;) {
            if ((nl = buffer_.find('\n')) != std::string::npos) {
                lines.push_back(buffer_.substr(0, nl));
                buffer_.erase(0, nl + 1);
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            char chunk[4096];
            const ssize_t n = left.count() > 0 && poll(&p, 1, int(left.count())) > 0 ? ::read(out_, chunk, 4096) : 0;
            if (n <= 0) break;
            buffer_.append(chunk, size_t(n));
        }
        return lines;
    }

private:
    int pid_ = -1, out_ = -1;
    bool ready_ = false;
    std::string buffer_;
};

} // namespace keys::testing
