#include "progress_line.h"

#include <windows.h>

#include <cstdio>

namespace MapChecker {

namespace {
constexpr std::uint64_t kIntervalMs = 250;
constexpr std::size_t kWidth = 78;
}  // namespace

void ProgressLine::Update(std::size_t done, std::size_t total, const std::string& current)
{
    if (!enabled_) return;
    const std::uint64_t now = GetTickCount64();
    if (now - lastMs_ < kIntervalMs && done < total) return;
    lastMs_ = now;
    std::string text = "checking model files: " + std::to_string(done) + " of " + std::to_string(total) + ", " + current;
    if (text.size() > kWidth) text = text.substr(0, kWidth - 3) + "...";
    text.resize(kWidth, ' ');
    std::fprintf(stderr, "\r%s", text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::Finish()
{
    if (!shown_) return;
    std::fprintf(stderr, "\r%s\r", std::string(kWidth, ' ').c_str());
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace MapChecker
