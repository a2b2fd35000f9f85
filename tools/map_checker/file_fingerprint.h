// What the import cache knows a file by: its size, its last write time and
// a hash of its content. Size and time alone miss an edit that keeps the
// size within the file system's time resolution (a texture renamed to a
// name of the same length and saved again in the same second); the hash
// does not.
#pragma once

#include <string>

namespace MapChecker {

// One line of text: "size:time:hash"; "absent" when there is no such file,
// "directory" for a directory, and "size:time:unreadable" for a file that
// exists but cannot be read.
std::string FileFingerprint(const std::string& path);

// Size and last write time alone, without reading the file; empty when it
// does not exist. For files too large to read on every check (the checker's
// own program).
std::string FileSignature(const std::string& path);

}  // namespace MapChecker
