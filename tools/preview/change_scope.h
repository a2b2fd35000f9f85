// Which views a change of the game directory's files touches, from the map
// checker's report of the changed map:
// - the settings or the map definition: every view;
// - a model, LOD or collision file: the views of the groups that use it, and
//   the overview and the corners with them;
// - a collision file also: the collision views;
// - a texture: as the models that use it.
// A changed file the plug-in cannot import (saved half-way, broken) takes
// nothing again: its groups keep their last good pictures and the error is
// named on the page.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "check_report.h"

namespace Preview {

struct ChangeScope {
    bool every = false;       // every view
    bool collisions = false;  // the collision views
    std::set<int> groups;     // groups whose views are taken again
    std::set<int> kept;       // groups that keep their last good views
    std::vector<std::string> errors;  // "path: severity code: message" of the files that failed to import
    // The overview and the corners go with any group or collision change.
    bool Overview() const { return every || collisions || !groups.empty(); }
};

// changed: relative paths, lower case, backslashes (as SnapshotTree gives).
ChangeScope ScopeOfChange(const CheckReport& report, const std::set<std::string>& changed);

// "path: code: message" of every finding that would end the game.
std::vector<std::string> FatalFindings(const CheckReport& report);

// The group of a role MapModel<K>Path<i>, MapModel<K>Path or MapModel<K>LODPath; -1 for others.
int GroupOfRole(const std::string& role);

}  // namespace Preview
