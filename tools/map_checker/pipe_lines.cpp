#include "pipe_lines.h"

namespace MapChecker {

bool PipeLineReader::ReadLine(std::string& line)
{
    for (;;) {
        std::size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        char chunk[16384];
        DWORD got = 0;
        if (!ReadFile(pipe_, chunk, sizeof chunk, &got, nullptr) || got == 0) return false;
        buffered_.append(chunk, got);
    }
}

bool WriteAll(HANDLE pipe, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        if (!WriteFile(pipe, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote, nullptr) ||
            wrote == 0) {
            return false;
        }
        done += wrote;
    }
    return true;
}

}  // namespace MapChecker
