// One pass of the preview's automatic views: the map checker plans them
// (check.txt, overview_views.txt, views.txt, collision_views.txt,
// index.html in the output folder), the host takes them, one run after
// another, in a copy of the game directory (game_copy.h): the groups' views
// with the copy near, the overview and the corners with it far, the
// collision views far with the collision display on; the pictures
// of the far runs join the others in the output folder, with their lines of
// view_checks.txt after the near run's; then contact_sheet.png of them all.
// The checker's findings do not fail the pass; a step that cannot run does.
// The steps are also the watch's (watch.h), which takes some views again.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "views_file.h"

namespace Preview {

// The programs the preview runs and the plug-in the host loads.
struct PreviewTools {
    std::string checker;  // vornak_check_map.exe
    std::string host;     // vornak_host.exe
    std::string plugin;   // the plug-in DLL
};

struct ViewLists {
    std::vector<PlannedView> overview;    // overview_views.txt: the overview and the corners
    std::vector<PlannedView> groups;      // views.txt
    std::vector<PlannedView> collisions;  // collision_views.txt
};
bool ReadViewLists(const std::string& folder, ViewLists& lists, std::string& error);

// The names of the three lists, in the contact sheet's order.
extern const char* const kViewListNames[3];

// One host run over views in a copy of the game directory; the copy is made
// (far when farDrawDistance > 0) and the list written into the run's folder
// unless given.
struct HostRun {
    std::string name;     // near, far, collisions: for messages
    std::string copy;     // the game copy's folder
    std::string out;      // where the host writes the pictures
    std::string list;     // the views list the host reads
    bool showCollisions = false;
};
bool StartHostRun(const PreviewTools& tools, const HostRun& run, const ChildOutput& output, Child& child,
                  std::string& error);

// Copies the views' pictures from a run's folder into the output folder.
bool GatherPictures(const std::vector<PlannedView>& views, const std::string& from, const std::string& out,
                    std::string& error);

// The lines of a folder's view_checks.txt (the host's verdict on each view:
// "name ok|empty share% cause...") by view name, in order; none when the
// file is absent.
std::vector<std::pair<std::string, std::string>> ReadViewChecks(const std::string& folder);
// Writes out\view_checks.txt from the given lines, in order, one per view.
bool WriteViewChecks(const std::string& out, const std::vector<std::pair<std::string, std::string>>& lines);

bool MakeContactSheet(const PreviewTools& tools, const std::string& out, const ChildOutput& output,
                      std::string& error);

// The whole pass. scratch: a folder for the copies (emptied after);
// importCache: the checker's import cache, or empty. 0 when every picture
// and the sheet are written, 1 with a message on standard error when not.
int RunAllViews(const PreviewTools& tools, const std::string& game, const std::string& out,
                const std::string& scratch, const std::string& importCache);

}  // namespace Preview
