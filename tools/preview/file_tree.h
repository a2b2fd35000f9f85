// Files and folders as the preview needs them: whole-file reads and writes,
// copying and removing a tree, and a snapshot of a game directory's files
// (size and time of each) to tell what a save changed. Paths are Windows
// paths in the program's code page, as the command line gives them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace Preview {

std::string JoinPath(const std::string& folder, const std::string& name);
std::string FullPath(const std::string& path);
std::string ParentFolder(const std::string& path);  // "" for a root
std::string LastName(const std::string& path);       // the final component

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool MakeFolders(const std::string& path);  // with its parents; true when it exists after
bool ReadTextFile(const std::string& path, std::string& text);
bool WriteTextFile(const std::string& path, const std::string& text);
bool CopyOneFile(const std::string& from, const std::string& to);

// Copies a folder tree; the plug-in's log (VornakMapLoader.log, in any
// folder) stays behind, since the copy's run writes its own. With
// linkFiles, files other than .ini files become hard links where the volume
// allows (copied where not): a copy for reading only, made in a fraction of
// the time. Whoever changes a file of such a copy must remove it and write a
// new one (WriteNewFile), never write into it.
bool CopyTree(const std::string& from, const std::string& to, bool linkFiles, std::string& error);
// Writes a file as a new one: a hard link in its place is replaced, and what
// it linked to is left as it was.
bool WriteNewFile(const std::string& path, const std::string& text);
void RemoveTree(const std::string& path);

// Relative path (lower case, backslashes) -> (write time, size) of every
// file below a folder but the plug-in's log.
struct FileStamp {
    std::uint64_t writeTime = 0;
    std::uint64_t size = 0;
    bool operator==(const FileStamp& other) const { return writeTime == other.writeTime && size == other.size; }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
using TreeSnapshot = std::map<std::string, FileStamp>;
TreeSnapshot SnapshotTree(const std::string& folder);
// Files added, removed or changed from one snapshot to the other.
std::set<std::string> ChangedFiles(const TreeSnapshot& before, const TreeSnapshot& after);

std::string Lower(std::string text);

}  // namespace Preview
