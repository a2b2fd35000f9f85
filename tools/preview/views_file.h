// The map checker's view lists (views.txt, overview_views.txt,
// collision_views.txt): one view a line,
//   name  camera x y z  target x y z  [key=value ...]  label
// in the game's axes. The key=value tokens between the numbers and the label
// are optional (radius=R, the subject's radius; group=K); unknown keys are
// kept in the line and ignored. Lines starting with '#' and blank lines are
// comments. A view's line is kept as written, to hand on to the host.
#pragma once

#include <string>
#include <vector>

namespace Preview {

struct PlannedView {
    std::string line;  // as written, without its line end
    std::string name;  // the picture's file name
    double camera[3] = {0, 0, 0};
    double target[3] = {0, 0, 0};
    double radius = -1;  // < 0: not given
    int group = -1;      // from group=K, else from a name group_K_...; -1: no group
};

// False with a message when the file cannot be read or a line is malformed.
bool ReadViews(const std::string& path, std::vector<PlannedView>& views, std::string& error);
bool ParseViewLine(const std::string& line, PlannedView& view);

// The views' lines, one a line, for the host's --views.
std::string ViewLines(const std::vector<PlannedView>& views);

// A draw distance that reaches all of every view's subject: the largest
// (camera-to-target distance + radius) x 1.1. Without a radius on any view
// the subject's size is unknown and it is kDrawEverything.
constexpr double kDrawEverything = 1000000.0;
double FittedDrawDistance(const std::vector<PlannedView>& views);

}  // namespace Preview
