// The files one import reads, noted through Assimp's I/O system: every
// file a reader asks for (the model file, its material libraries, buffers,
// whatever the format's reader opens, in any folder) with its fingerprint
// taken before the reader opens it, and every file it asks for that is not
// there, as absent, because its appearing later changes the import too.
// The import cache keys a result on exactly these. Runs in the import
// worker, one import at a time.
#pragma once

#include <string>
#include <vector>

namespace Assimp {
class IOSystem;
}

namespace MapChecker {

struct FileRead {
    std::string path;         // as the reader named it, relative to the game directory or absolute
    std::string fingerprint;  // FileFingerprint when the reader asked
};

// Starts a fresh list for the import of `modelPath`, the model file noted
// first (an import that never gets to the reader still depends on it).
void BeginNotingReads(const std::string& modelPath);

// The list since BeginNotingReads, each file once, in the order first asked.
std::vector<FileRead> TakeNotedReads();

// A new I/O system over Assimp's own that notes into the current list; for
// TarnRenderer::ImportIOSystemHook (the importer owns and deletes it).
Assimp::IOSystem* NewNotingIOSystem();

}  // namespace MapChecker
