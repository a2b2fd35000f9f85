#include "nested_groups.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace MapChecker {
namespace {

struct Box {
    float min[3], max[3];
    float Largest() const { return std::max({max[0] - min[0], max[1] - min[1], max[2] - min[2]}); }
    bool Equals(const Box& other, float slack) const
    {
        for (int axis = 0; axis < 3; ++axis) {
            if (std::abs(min[axis] - other.min[axis]) > slack || std::abs(max[axis] - other.max[axis]) > slack) {
                return false;
            }
        }
        return true;
    }
    // Within `outer`, allowing `slack` on every side.
    bool Within(const Box& outer, float slack) const
    {
        for (int axis = 0; axis < 3; ++axis) {
            if (min[axis] < outer.min[axis] - slack || max[axis] > outer.max[axis] + slack) return false;
        }
        return true;
    }
};

std::optional<Box> GroupBox(const CheckedMap& map, const DeclaredGroup& group)
{
    std::optional<Box> box;
    for (std::size_t part : group.parts) {
        const CheckedModel& model = map.models[part];
        if (!HasBox(model)) continue;
        const ModelStats& stats = *model.report->model;
        if (!box) {
            box = Box{};
            std::copy(stats.boundsMin, stats.boundsMin + 3, box->min);
            std::copy(stats.boundsMax, stats.boundsMax + 3, box->max);
            continue;
        }
        for (int axis = 0; axis < 3; ++axis) {
            box->min[axis] = std::min(box->min[axis], stats.boundsMin[axis]);
            box->max[axis] = std::max(box->max[axis], stats.boundsMax[axis]);
        }
    }
    return box;
}

}  // namespace

void CheckNestedGroups(CheckedMap& map)
{
    std::vector<std::optional<Box>> boxes;
    for (const DeclaredGroup& group : map.groups) boxes.push_back(GroupBox(map, group));
    for (std::size_t inner = 0; inner < map.groups.size(); ++inner) {
        if (!boxes[inner] || map.groups[inner].parts.empty()) continue;
        const Box& box = *boxes[inner];
        std::optional<std::size_t> around;
        for (std::size_t outer = 0; outer < map.groups.size(); ++outer) {
            if (outer == inner || !boxes[outer]) continue;
            const Box& other = *boxes[outer];
            const float largest = other.Largest();
            const float slack = 0.001f * largest;
            if (box.Largest() < 0.25f * largest || !box.Within(other, slack)) continue;
            if (box.Equals(other, slack) && outer > inner) continue;  // the later of the two is named
            if (!around || largest < boxes[*around]->Largest()) around = outer;
        }
        if (!around) continue;
        const bool same = box.Equals(*boxes[*around], 0.001f * boxes[*around]->Largest());
        map.models[map.groups[inner].parts.front()].report->findings.push_back(
            {Severity::Warning, "group-inside-group",
             "the bounds of " + map.groups[inner].name + " (main model and members) lie " +
                 (same ? "exactly where " + map.groups[*around].name + "'s do"
                       : "inside those of " + map.groups[*around].name) +
                 ": both groups are drawn there, which is what a group declared twice or the same models exported "
                 "into two groups look like (doubled faces flicker); if one is meant to stand within the other, "
                 "ignore this"});
    }
}

}  // namespace MapChecker
