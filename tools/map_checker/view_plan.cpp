#include "view_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "report_format.h"

namespace MapChecker {
namespace {

struct Sphere {
    float center[3];
    float radius;
};

struct Group {
    int index = -1;
    const FileReport* main = nullptr;
    const FileReport* lod = nullptr;
    int members = 0;
    std::vector<Sphere> spheres;  // main model and members
};

// The model index of a "MapModel<i>Path...", "MapModel<i>LODPath" role, or
// -1; `lod` tells which.
int ModelIndex(const std::string& role, bool& main, bool& lod)
{
    if (role.rfind("MapModel", 0) != 0) return -1;
    char* end = nullptr;
    const long index = std::strtol(role.c_str() + 8, &end, 10);
    if (end == role.c_str() + 8) return -1;
    const std::string rest = end;
    lod = rest == "LODPath";
    main = rest == "Path";
    return rest.rfind("Path", 0) == 0 || lod ? static_cast<int>(index) : -1;
}

float Option(const CheckReport& report, const char* key, float fallback)
{
    for (const OptionReport& option : report.options) {
        if (option.key == key) return std::strtof(option.value.c_str(), nullptr);
    }
    return fallback;
}

Sphere Enclosing(const std::vector<Sphere>& spheres)
{
    float low[3], high[3];
    for (int a = 0; a < 3; ++a) {
        low[a] = spheres.front().center[a] - spheres.front().radius;
        high[a] = spheres.front().center[a] + spheres.front().radius;
    }
    for (const Sphere& s : spheres) {
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], s.center[a] - s.radius);
            high[a] = std::max(high[a], s.center[a] + s.radius);
        }
    }
    Sphere all{{(low[0] + high[0]) / 2, (low[1] + high[1]) / 2, (low[2] + high[2]) / 2}, 0};
    for (const Sphere& s : spheres) {
        const float dx = s.center[0] - all.center[0], dy = s.center[1] - all.center[1], dz = s.center[2] - all.center[2];
        all.radius = std::max(all.radius, std::sqrt(dx * dx + dy * dy + dz * dz) + s.radius);
    }
    return all;
}

float Distance(const float a[3], const float b[3])
{
    const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The radius around `center` that holds every sphere.
float RadiusAround(const float center[3], const std::vector<Sphere>& spheres)
{
    float radius = 0;
    for (const Sphere& s : spheres) radius = std::max(radius, Distance(center, s.center) + s.radius);
    return radius;
}

class Planner {
public:
    explicit Planner(const CheckReport& report)
        : offset_{Option(report, "MapOffsetX", 0), -Option(report, "MapOffsetY", 0), Option(report, "MapOffsetZ", 0)},
          lodDistance_(Option(report, "LODDistance", 500)),
          drawDistance_(Option(report, "DrawDistance", 500))
    {
    }

    // A view of `target` from `distance` along `direction` (both in the
    // map's model space; the camera's space adds the offset).
    PlannedView Look(std::string name, std::string label, int group, const float target[3], const float direction[3],
                     float distance) const
    {
        PlannedView view{std::move(name), std::move(label), group, {}, {}};
        const float length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                       direction[2] * direction[2]);
        for (int a = 0; a < 3; ++a) {
            view.position[a] = target[a] + direction[a] / length * distance + offset_[a];
            view.target[a] = target[a] + offset_[a];
        }
        return view;
    }

    // How far back a camera with the preview's 60-degree field of view
    // stands to see a whole sphere, with a margin.
    static float Framing(float radius) { return std::max(3.0f, 2.2f * radius); }

    // A distance at most `wanted` along `direction` from `target` from which
    // the plug-in draws the group's full models.
    float InRange(const Group& group, const float target[3], const float direction[3], float wanted) const
    {
        float distance = wanted;
        for (int tries = 0; tries < 40 && distance > 0.5f; ++tries, distance *= 0.9f) {
            const PlannedView view = Look("", "", -1, target, direction, distance);
            float camera[3];
            for (int a = 0; a < 3; ++a) camera[a] = view.position[a] - offset_[a];
            if (group.lod && group.lod->model) {
                const ModelStats& lod = *group.lod->model;
                if (Distance(camera, lod.center) < 0.95f * (lodDistance_ + lod.radius)) return distance;
            } else {
                for (const Sphere& s : group.spheres) {
                    if (Distance(camera, s.center) - s.radius < 0.95f * drawDistance_) return distance;
                }
            }
        }
        return distance;
    }

    float lodDistance() const { return lodDistance_; }

private:
    float offset_[3];
    float lodDistance_, drawDistance_;
};

std::string Base(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ViewPlan PlanViews(const CheckReport& report)
{
    ViewPlan plan;
    std::map<int, Group> groups;
    std::vector<Sphere> everything;
    // The plug-in makes one group per declared model, in index order.
    std::map<int, int> listPosition;
    for (const FileReport& file : report.files) {
        for (const std::string& role : file.roles) {
            bool main = false, lod = false;
            const int index = ModelIndex(role, main, lod);
            if (main) listPosition[index] = 0;
        }
    }
    int position = 0;
    for (auto& entry : listPosition) entry.second = position++;
    for (const FileReport& file : report.files) {
        if (!file.model || file.model->triangles == 0) continue;
        const Sphere sphere{{file.model->center[0], file.model->center[1], file.model->center[2]}, file.model->radius};
        everything.push_back(sphere);
        for (const std::string& role : file.roles) {
            bool main = false, lod = false;
            const int index = ModelIndex(role, main, lod);
            if (index < 0 || file.kind != FileKind::Model) continue;
            Group& group = groups[index];
            group.index = index;
            if (lod) {
                group.lod = &file;
                continue;
            }
            if (main) group.main = &file;
            if (!main) ++group.members;
            group.spheres.push_back(sphere);
        }
    }
    if (everything.empty()) return plan;

    const Planner planner(report);
    const Sphere all = Enclosing(everything);
    const float overviewDirection[3] = {0.0f, -0.55f, 0.83f};
    plan.overviewViews.push_back(planner.Look("overview.png", "overview: the whole map", -1, all.center, overviewDirection,
                                      Planner::Framing(all.radius)));
    plan.overviewViews.back().radius = all.radius;

    // The corners of the map's bounds, seen from a little outside and
    // above. Across, the spheres bound the map; in height their centres do
    // (a flat ground's sphere reaches far below and above it).
    float low[3], high[3];
    for (int a = 0; a < 3; ++a) low[a] = high[a] = everything.front().center[a];
    for (const Sphere& s : everything) {
        for (int a = 0; a < 3; ++a) {
            const float reach = a < 2 ? s.radius : 0.0f;
            low[a] = std::min(low[a], s.center[a] - reach);
            high[a] = std::max(high[a], s.center[a] + reach);
        }
    }
    const float lookAt[3] = {all.center[0], all.center[1], low[2] + 0.3f * (high[2] - low[2])};
    const struct {
        const char* name;
        float x, y;
    } corners[] = {{"ne", 1, 1}, {"nw", -1, 1}, {"se", 1, -1}, {"sw", -1, -1}};
    for (const auto& corner : corners) {
        const float margin = 0.15f * all.radius + 2;
        const float position[3] = {corner.x > 0 ? high[0] + margin : low[0] - margin,
                                   corner.y > 0 ? high[1] + margin : low[1] - margin, high[2] + margin};
        const float direction[3] = {position[0] - lookAt[0], position[1] - lookAt[1], position[2] - lookAt[2]};
        plan.overviewViews.push_back(planner.Look(std::string("corner_") + corner.name + ".png",
                                          std::string("corner ") + corner.name + " (+x is east, +y north)", -1, lookAt,
                                          direction, Distance(position, lookAt)));
        plan.overviewViews.back().radius = RadiusAround(lookAt, everything);
    }

    std::vector<const Group*> ordered;
    for (const auto& entry : groups) {
        if (entry.second.main) ordered.push_back(&entry.second);
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Group* a, const Group* b) { return a->main->model->radius > b->main->model->radius; });
    if (static_cast<int>(ordered.size()) > kMaxGroupViews) {
        plan.groupsLeftOut = static_cast<int>(ordered.size()) - kMaxGroupViews;
        ordered.resize(kMaxGroupViews);
    }
    // Taken in a walk from the largest to the nearest not yet taken: the
    // members a view streams in are near for the next one, and stay loaded.
    for (std::size_t next = 1; next < ordered.size(); ++next) {
        const float* from = ordered[next - 1]->main->model->center;
        auto nearest = std::min_element(ordered.begin() + next, ordered.end(), [&](const Group* a, const Group* b) {
            return Distance(from, a->main->model->center) < Distance(from, b->main->model->center);
        });
        std::iter_swap(ordered.begin() + next, nearest);
    }
    const float direction[3] = {0.6f, -0.7f, 0.4f};
    for (const Group* group : ordered) {
        const ModelStats& main = *group->main->model;
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "group_%03d", group->index);
        const std::string what = "group " + std::to_string(group->index);
        std::string label = what + ": " + Base(group->main->path);
        if (group->members) label += " + " + std::to_string(group->members) + " members";
        const float near = planner.InRange(*group, main.center, direction, Planner::Framing(main.radius));
        const int alone = listPosition.at(group->index);
        const float groupRadius = RadiusAround(main.center, group->spheres);
        plan.views.push_back(planner.Look(std::string(prefix) + "_main.png", label, group->index, main.center,
                                          direction, near));
        plan.views.back().radius = groupRadius;
        plan.views.back().alone = alone;
        if (plan.collisionViews.empty()) {
            plan.collisionViews.push_back(planner.Look("overview_collisions.png", "overview with the collision display",
                                                       -1, all.center, overviewDirection,
                                                       Planner::Framing(all.radius)));
            plan.collisionViews.push_back(planner.Look(std::string(prefix) + "_collisions.png",
                                                       what + " with the collision display", group->index, main.center,
                                                       direction, near));
            plan.collisionViews.front().radius = all.radius;
            plan.collisionViews.back().radius = groupRadius;
        }
        if (group->lod && group->lod->model) {
            const ModelStats& lod = *group->lod->model;
            const float far = planner.lodDistance() + lod.radius + std::max(2.0f, 0.1f * planner.lodDistance());
            plan.views.push_back(planner.Look(std::string(prefix) + "_lod.png",
                                              what + " LOD: " + Base(group->lod->path), group->index, lod.center,
                                              direction, far));
            plan.views.back().radius = lod.radius;
            plan.views.back().alone = alone;
        }
    }
    if (plan.collisionViews.empty()) {
        plan.collisionViews.push_back(planner.Look("overview_collisions.png", "overview with the collision display", -1,
                                                   all.center, overviewDirection, Planner::Framing(all.radius)));
        plan.collisionViews.back().radius = all.radius;
    }
    return plan;
}

std::string FormatViews(const std::vector<PlannedView>& views)
{
    std::ostringstream out;
    out << "# name  camera x y z  target x y z  radius=R [group=K]  label (the game's axes, the third up; the\n"
           "# subject within R of the target; group K of the map's list drawn alone)\n";
    char numbers[160];
    for (const PlannedView& view : views) {
        std::snprintf(numbers, sizeof numbers, " %.3f %.3f %.3f %.3f %.3f %.3f ", view.position[0], view.position[1],
                      view.position[2], view.target[0], view.target[1], view.target[2]);
        out << view.name << numbers;
        std::snprintf(numbers, sizeof numbers, "radius=%.3f ", view.radius);
        out << numbers;
        if (view.alone >= 0) out << "group=" << view.alone << ' ';
        out << view.label << '\n';
    }
    return out.str();
}

}  // namespace MapChecker
