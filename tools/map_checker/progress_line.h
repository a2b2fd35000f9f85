// The progress line of a long check on standard error: files done of the
// total and the current file, rewritten in place at most a few times a
// second, and cleared at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace MapChecker {

class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { Finish(); }
    void Update(std::size_t done, std::size_t total, const std::string& current);
    void Finish();

private:
    bool enabled_;
    bool shown_ = false;
    std::uint64_t lastMs_ = 0;
};

}  // namespace MapChecker
