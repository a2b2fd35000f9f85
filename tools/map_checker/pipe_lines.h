// Lines over a Windows pipe handle: buffered reading up to each '\n', and
// writing a whole text. Used by the checker and its import workers alike.
#pragma once

#include <windows.h>

#include <string>

namespace MapChecker {

class PipeLineReader {
public:
    explicit PipeLineReader(HANDLE pipe) : pipe_(pipe) {}
    // The next line without its '\n'; false once the other end has closed
    // (or the pipe broke) before a whole line arrived.
    bool ReadLine(std::string& line);

private:
    HANDLE pipe_;
    std::string buffered_;
};

// False when the pipe is closed or broken.
bool WriteAll(HANDLE pipe, const std::string& text);

}  // namespace MapChecker
