#include "views_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "file_tree.h"

namespace Preview {

namespace {

bool Number(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(value);
}

// The group of a name group_K_..., or -1.
int GroupFromName(const std::string& name)
{
    if (name.compare(0, 6, "group_") != 0) return -1;
    std::size_t at = 6, digits = 0;
    int group = 0;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 9) {
        group = group * 10 + (name[at++] - '0');
        ++digits;
    }
    return digits > 0 && at < name.size() && name[at] == '_' ? group : -1;
}

}  // namespace

bool ParseViewLine(const std::string& line, PlannedView& view)
{
    std::istringstream words(line);
    view = PlannedView();
    view.line = line;
    if (!(words >> view.name)) return false;
    std::string word;
    for (int i = 0; i < 6; ++i) {
        if (!(words >> word) || !Number(word, i < 3 ? view.camera[i] : view.target[i - 3])) return false;
    }
    view.group = GroupFromName(view.name);
    // Options until the first word that is not key=value: the label.
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) break;
        const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
        double number = 0;
        if (key == "radius" && Number(value, number) && number >= 0) view.radius = number;
        if (key == "group" && Number(value, number) && number >= 0) view.group = static_cast<int>(number);
    }
    return true;
}

bool ReadViews(const std::string& path, std::vector<PlannedView>& views, std::string& error)
{
    std::string text;
    if (!ReadTextFile(path, text)) {
        error = "cannot read " + path;
        return false;
    }
    views.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line.find_first_not_of(" \t") == std::string::npos) continue;
        PlannedView view;
        if (!ParseViewLine(line, view)) {
            error = path + " line " + std::to_string(number) + " is not a view: " + line;
            return false;
        }
        views.push_back(view);
    }
    return true;
}

std::string ViewLines(const std::vector<PlannedView>& views)
{
    std::string text;
    for (const PlannedView& view : views) text += view.line + "\n";
    return text;
}

double FittedDrawDistance(const std::vector<PlannedView>& views)
{
    double farthest = 0;
    bool sized = false;
    for (const PlannedView& view : views) {
        const double dx = view.camera[0] - view.target[0], dy = view.camera[1] - view.target[1],
                     dz = view.camera[2] - view.target[2];
        // A view without a radius still counts its own distance.
        farthest = std::max(farthest, std::sqrt(dx * dx + dy * dy + dz * dz) + std::max(view.radius, 0.0));
        sized |= view.radius >= 0;
    }
    return sized ? farthest * 1.1 : kDrawEverything;
}

}  // namespace Preview
