// The LiveReload option's frame step: while the map is loaded, the files it
// uses are polled on the task pool (base/file_watch.h) a few times a
// second, and a changed one is loaded again:
// - a model (LOD or member) or a texture through renderer/model_reload.h,
//   swapped in at the start of a render pass once its new version is made;
// - a collision file: the world is given back and built again from the
//   files by the next collision query, as the first build is;
// - the settings file or the map definition: the map is released, both
//   files are read again and the map loads again with its loading screen,
//   as at start-up (the render entry and the patches stay those of the
//   start: they cannot change while the game runs).
// A reload that fails is logged, one line each. With the option off,
// nothing of this runs.
#pragma once

#include <string>
#include <vector>

// Called by OnFrame on the game's thread once the map has loaded.
void LiveReloadFrame();

// For tests and the benchmark: runs one poll now on the calling thread and
// dispatches what it found; returns the files found changed.
std::vector<std::string> LiveReloadPollNow();
