// The preview's automatic views planned from a check's report: each corner
// view's camera stands in the quadrant of the map its name gives, and the
// overview and the group views hold what they show in the preview's field
// of view (60 degrees from top to bottom, the pictures wider than high).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "view_plan.h"

namespace {

using MapChecker::CheckReport;
using MapChecker::FileReport;
using MapChecker::PlannedView;

FileReport Model(const std::string& path, const std::string& role, float x, float y, float z, float radius)
{
    FileReport file;
    file.path = path;
    file.roles = {role};
    MapChecker::ModelStats stats;
    stats.triangles = 12;
    stats.center[0] = x;
    stats.center[1] = y;
    stats.center[2] = z;
    stats.radius = radius;
    file.model = stats;
    return file;
}

// Whether the sphere lies wholly inside the cone of the preview's smaller
// field of view around the view's line of sight.
bool HoldsSphere(const PlannedView& view, const float center[3], float radius)
{
    const double pi = std::acos(-1.0);
    double axis[3], toCenter[3], axisLength = 0, distance = 0;
    for (int a = 0; a < 3; ++a) {
        axis[a] = view.target[a] - view.position[a];
        toCenter[a] = center[a] - view.position[a];
        axisLength += axis[a] * axis[a];
        distance += toCenter[a] * toCenter[a];
    }
    axisLength = std::sqrt(axisLength);
    distance = std::sqrt(distance);
    if (distance <= radius) return false;
    double cosine = 0;
    for (int a = 0; a < 3; ++a) cosine += axis[a] * toCenter[a] / (axisLength * distance);
    const double off = std::acos(std::max(-1.0, std::min(1.0, cosine)));
    return off + std::asin(radius / distance) <= pi / 6;
}

// An author's town: a few groups of different sizes spread unevenly over
// the map (not around the origin), one with a LOD and a member.
CheckReport Town()
{
    CheckReport report;
    report.files = {
        Model("maps\\town\\hall.obj", "MapModel0Path", 420, 260, 6, 40),
        Model("maps\\town\\hall_lod.obj", "MapModel0LODPath", 420, 260, 6, 42),
        Model("maps\\town\\hall_roof.obj", "MapModel0Path0", 420, 260, 30, 25),
        Model("maps\\town\\shed.obj", "MapModel1Path", 150, -80, 2, 8),
        Model("maps\\town\\tower.obj", "MapModel2Path", 610, 40, 30, 60),
        Model("maps\\town\\yard.obj", "MapModel3Path", 300, 400, 0, 90),
    };
    return report;
}

TEST(ViewPlanTest, CornerCamerasStandInTheirQuadrants)
{
    const CheckReport report = Town();
    const MapChecker::ViewPlan plan = MapChecker::PlanViews(report);
    // The map's bounds across, from the files' spheres.
    float low[2] = {1e9f, 1e9f}, high[2] = {-1e9f, -1e9f};
    for (const FileReport& file : report.files) {
        for (int a = 0; a < 2; ++a) {
            low[a] = std::min(low[a], file.model->center[a] - file.model->radius);
            high[a] = std::max(high[a], file.model->center[a] + file.model->radius);
        }
    }
    const float middle[2] = {(low[0] + high[0]) / 2, (low[1] + high[1]) / 2};
    int corners = 0;
    for (const PlannedView& view : plan.overviewViews) {
        if (view.name.rfind("corner_", 0) != 0) continue;
        ++corners;
        const char northSouth = view.name[7], eastWest = view.name[8];
        ASSERT_TRUE(northSouth == 'n' || northSouth == 's') << view.name;
        ASSERT_TRUE(eastWest == 'e' || eastWest == 'w') << view.name;
        EXPECT_EQ(view.position[0] > middle[0], eastWest == 'e') << view.name << " x " << view.position[0];
        EXPECT_EQ(view.position[1] > middle[1], northSouth == 'n') << view.name << " y " << view.position[1];
    }
    EXPECT_EQ(corners, 4);
}

TEST(ViewPlanTest, TheOverviewAndTheGroupViewsHoldWhatTheyShow)
{
    const CheckReport report = Town();
    const MapChecker::ViewPlan plan = MapChecker::PlanViews(report);
    ASSERT_FALSE(plan.overviewViews.empty());
    const PlannedView& overview = plan.overviewViews.front();
    ASSERT_EQ(overview.name, "overview.png");
    for (const FileReport& file : report.files) {
        EXPECT_TRUE(HoldsSphere(overview, file.model->center, file.model->radius)) << file.path;
    }

    auto file = [&](const std::string& path) {
        return *std::find_if(report.files.begin(), report.files.end(),
                             [&](const FileReport& f) { return f.path == path; });
    };
    const char* const mains[] = {"maps\\town\\hall.obj", "maps\\town\\shed.obj", "maps\\town\\tower.obj",
                                 "maps\\town\\yard.obj"};
    int seen = 0;
    for (const PlannedView& view : plan.views) {
        const bool lod = view.name.size() > 8 && view.name.compare(view.name.size() - 8, 8, "_lod.png") == 0;
        ASSERT_GE(view.group, 0) << view.name;
        const FileReport shown = lod ? file("maps\\town\\hall_lod.obj") : file(mains[view.group]);
        EXPECT_TRUE(HoldsSphere(view, shown.model->center, shown.model->radius)) << view.name;
        ++seen;
    }
    EXPECT_EQ(seen, 5);  // four groups, one with its LOD
}

}  // namespace
