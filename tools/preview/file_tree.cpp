#include "file_tree.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>
#include <windows.h>

namespace Preview {

namespace {

bool IsLog(const char* name) { return lstrcmpiA(name, "VornakMapLoader.log") == 0; }

bool IsDots(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!IsDots(entry.cFileName)) visit(entry);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

void Snapshot(const std::string& folder, const std::string& relative, TreeSnapshot& files)
{
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        const std::string name = relative.empty() ? entry.cFileName : relative + "\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Snapshot(JoinPath(folder, entry.cFileName), name, files);
        } else if (!IsLog(entry.cFileName)) {
            FileStamp stamp;
            stamp.writeTime = (std::uint64_t(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                              entry.ftLastWriteTime.dwLowDateTime;
            stamp.size = (std::uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            files[Lower(name)] = stamp;
        }
    });
}

}  // namespace

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

std::string FullPath(const std::string& path)
{
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string result = length > 0 && length < sizeof full ? std::string(full, length) : path;
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

std::string ParentFolder(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return "";
    if (slash == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, slash);
}

std::string LastName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& path)
{
    if (path.empty() || FolderExists(path)) return true;
    const std::string parent = ParentFolder(path);
    if (!parent.empty() && parent != path && !MakeFolders(parent)) return false;
    return CreateDirectoryA(path.c_str(), nullptr) || FolderExists(path);
}

bool ReadTextFile(const std::string& path, std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text.clear();
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

namespace {

bool IsIni(const char* name)
{
    const std::size_t length = std::strlen(name);
    return length >= 4 && lstrcmpiA(name + length - 4, ".ini") == 0;
}

bool CopyFolder(const std::string& from, const std::string& to, bool& link, std::string& error)
{
    if (!MakeFolders(to)) {
        error = "cannot make the folder " + to;
        return false;
    }
    bool ok = true;
    ForEachEntry(from, [&](const WIN32_FIND_DATAA& entry) {
        if (!ok) return;
        const std::string source = JoinPath(from, entry.cFileName), target = JoinPath(to, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = CopyFolder(source, target, link, error);
            return;
        }
        if (IsLog(entry.cFileName)) return;
        if (link && !IsIni(entry.cFileName)) {
            if (CreateHardLinkA(target.c_str(), source.c_str(), nullptr)) return;
            link = false;  // another volume, or a file system without links: copies from here on
        }
        if (!CopyOneFile(source, target)) {
            error = "cannot copy " + source + " to " + target;
            ok = false;
        }
    });
    return ok;
}

}  // namespace

bool CopyTree(const std::string& from, const std::string& to, bool linkFiles, std::string& error)
{
    return CopyFolder(from, to, linkFiles, error);
}

bool WriteNewFile(const std::string& path, const std::string& text)
{
    DeleteFileA(path.c_str());
    return WriteTextFile(path, text);
}

void RemoveTree(const std::string& path)
{
    if (path.empty() || !FolderExists(path)) return;
    ForEachEntry(path, [&](const WIN32_FIND_DATAA& entry) {
        const std::string full = JoinPath(path, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(full);
        } else {
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(full.c_str());
        }
    });
    RemoveDirectoryA(path.c_str());
}

TreeSnapshot SnapshotTree(const std::string& folder)
{
    TreeSnapshot files;
    Snapshot(folder, "", files);
    return files;
}

std::set<std::string> ChangedFiles(const TreeSnapshot& before, const TreeSnapshot& after)
{
    std::set<std::string> changed;
    for (const auto& [path, stamp] : before) {
        const auto now = after.find(path);
        if (now == after.end() || now->second != stamp) changed.insert(path);
    }
    for (const auto& [path, stamp] : after) {
        if (!before.count(path)) changed.insert(path);
    }
    return changed;
}

}  // namespace Preview
