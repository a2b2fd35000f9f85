// The preview's automatic views of a map, planned from a check's report:
// the bounding spheres of the files as the plug-in loads them. An overview
// from high above, four views from the corners of the map's bounds at a
// low angle, and per group (of the kMaxGroupViews largest main models, in
// a walk from the largest to the nearest next) a view framing its main model with the members drawn and,
// for a group with a LOD, the same view from where the LOD is drawn, each
// drawing that group alone (a group inside or around another is seen); the
// collision views, for a second run with the collision display on, are the
// overview and the first group's view. Written for vornak_host.exe
// --views, with the page that shows the pictures beside the findings. The
// overview and the corners (and the collision views) are meant for a copy
// of the game directory whose draw distance reaches every group: from so
// far the game would draw only the LODs.
#pragma once

#include <string>
#include <vector>

#include "findings.h"

namespace MapChecker {

inline constexpr int kMaxGroupViews = 64;

struct PlannedView {
    std::string name;   // picture file name: overview.png, corner_ne.png, group_012_main.png, ...
    std::string label;  // caption: what the view shows
    int group = -1;     // the model index of a group view, else -1
    float position[3];  // the camera and the point it looks at, in the
    float target[3];    // game's axes as the preview places its camera
    float radius = 0;   // of a sphere around the target holding the view's subject
    int alone = -1;     // the group's place in the map's list when it is drawn alone
};

struct ViewPlan {
    std::vector<PlannedView> overviewViews;   // overview.png and the corners
    std::vector<PlannedView> views;           // the groups
    std::vector<PlannedView> collisionViews;  // names end in _collisions.png
    int groupsLeftOut = 0;                    // groups beyond kMaxGroupViews
};

// Nothing planned (no overview) when no model or collision file has bounds.
ViewPlan PlanViews(const CheckReport& report);

// "name px py pz tx ty tz radius=R [group=K] label" lines, as
// vornak_host.exe --views reads them: the subject's radius fits the view's
// near and far planes; a group view names the group to draw alone by its
// place in the map's list.
std::string FormatViews(const std::vector<PlannedView>& views);

// index.html: every picture with its caption, and beside each group's
// views the findings of its files; the check's JSON report is embedded.
std::string FormatViewPage(const CheckReport& report, const ViewPlan& plan);

}  // namespace MapChecker
