// Files and directories for tests: a fresh temporary directory per test,
// removed afterwards, and whole-file reads and writes.
#pragma once

#include <string>

namespace TestSupport {

class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path_; }
    // Path of `name` inside the directory.
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void RemoveTree(const std::string& path);

// Peak private bytes of this process so far.
std::size_t PeakPrivateBytes();

}  // namespace TestSupport
