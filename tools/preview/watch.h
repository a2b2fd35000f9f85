// The watch: every view once (view_run.h), then, at each save to the game
// directory (change_watch.h), the map checker plans the views again with its
// import cache (a save re-imports only the files it touched) and only the
// views the change touches (change_scope.h) are taken again, the three host
// runs side by side. The output's lists, view_checks.txt and index.html are
// brought up to date as soon as the pictures are (a group whose file failed
// to import keeps its last good views and the page names the error), then
// the contact sheet. Each update prints one line: how many views, how long
// each step took, and the times the page and the sheet were done.
#pragma once

#include <string>

#include "view_run.h"

namespace Preview {

// updates < 0: for ever; else stops after that many updates (for tests and
// benchmarks). scratch: a folder for the copies and the import cache.
int RunWatch(const PreviewTools& tools, const std::string& game, const std::string& out, const std::string& scratch,
             int updates);

}  // namespace Preview
