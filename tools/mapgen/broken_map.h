// Writes a broken game directory for the map checker's demonstration and
// tests: one case of each mistake the checker names (settings, map
// definition, model files, textures), beside a few correct files. The
// importer crash needs the checker's test-only --test-crash-on on crash.ply.
#pragma once

#include <string>

namespace MapGen {

// Writes everything below `gameDirectory` (which must exist).
void WriteBrokenGame(const std::string& gameDirectory);

}  // namespace MapGen
