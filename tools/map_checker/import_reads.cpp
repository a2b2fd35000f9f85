#include "import_reads.h"

#include <assimp/DefaultIOSystem.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <set>

#include "file_fingerprint.h"

namespace MapChecker {
namespace {

std::mutex NotedLock;
std::vector<FileRead> Noted;
std::set<std::string> NotedNames;  // lower case, backslashes

std::string Normal(const std::string& path)
{
    std::string name = path;
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c == '/') c = '\\';
    }
    return name;
}

void Note(const std::string& path)
{
    std::lock_guard<std::mutex> guard(NotedLock);
    if (!NotedNames.insert(Normal(path)).second) return;
    Noted.push_back({path, FileFingerprint(path)});
}

bool Reading(const char* mode)
{
    return mode && !std::strchr(mode, 'w') && !std::strchr(mode, 'a') && !std::strchr(mode, '+');
}

// Assimp's own file access, every file asked for noted first.
class NotingIOSystem : public Assimp::IOSystem {
public:
    bool Exists(const char* file) const override
    {
        if (file) Note(file);
        return inner_.Exists(file);
    }
    char getOsSeparator() const override { return inner_.getOsSeparator(); }
    Assimp::IOStream* Open(const char* file, const char* mode) override
    {
        if (file && Reading(mode)) Note(file);  // before the open: a later edit changes the fingerprint
        return inner_.Open(file, mode);
    }
    void Close(Assimp::IOStream* stream) override { inner_.Close(stream); }
    bool ComparePaths(const char* one, const char* second) const override { return inner_.ComparePaths(one, second); }

private:
    mutable Assimp::DefaultIOSystem inner_;
};

}  // namespace

void BeginNotingReads(const std::string& modelPath)
{
    {
        std::lock_guard<std::mutex> guard(NotedLock);
        Noted.clear();
        NotedNames.clear();
    }
    Note(modelPath);
}

std::vector<FileRead> TakeNotedReads()
{
    std::lock_guard<std::mutex> guard(NotedLock);
    NotedNames.clear();
    return std::move(Noted);
}

Assimp::IOSystem* NewNotingIOSystem() { return new NotingIOSystem; }

}  // namespace MapChecker
