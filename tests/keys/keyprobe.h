#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace keys::testing {

// Runs the key probe (a focused window of another process) and collects the key names it prints.
class KeyProbe {
public:
    KeyProbe();
    ~KeyProbe();
    KeyProbe(const KeyProbe&) = delete;
    KeyProbe& operator=(const KeyProbe&) = delete;

    // Whether the window is up and has the focus.
    bool ready() const { return ready_; }

    // The next `count` key names, fewer when they do not come within `timeout`.
    std::vector<std::string> read(size_t count, std::chrono::milliseconds timeout);

private:
    bool readLine(std::string& line, std::chrono::steady_clock::time_point deadline);

    int pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    std::string buffer_;
};

} // namespace keys::testing
