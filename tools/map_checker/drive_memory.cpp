#include "drive_memory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace MapChecker {
namespace {

constexpr std::uint64_t kBulletVertexBytes = 16;
constexpr std::uint64_t kTriangleBytes = 3 * 4 + 2 * 16 + 20;  // indices, tree nodes, plane
constexpr std::uint64_t kBarrierSegmentBytes = 40;

struct Sphere {
    float center[3];
    float radius;
};

Sphere SphereOf(const ModelStats& stats)
{
    return {{stats.center[0], stats.center[1], stats.center[2]}, stats.radius};
}

// Marks of what is loaded at one point, each file and texture counted once.
class LoadedSet {
public:
    LoadedSet(const CheckedMap& map, std::vector<std::uint64_t> textureBytes)
        : map_(map), textureBytes_(std::move(textureBytes)),
          fileMark_(map.models.size(), 0), textureMark_(textureBytes_.size(), 0)
    {
    }

    // Starts a new point; everything marked `keep` (the first point's set)
    // stays loaded at every point.
    void Begin(std::uint64_t base) { ++stamp_, bytes_ = base; }
    void KeepCurrent() { keepStamp_ = stamp_; }

    void AddFile(std::size_t file, const std::vector<std::vector<std::size_t>>& texturesOf)
    {
        if (fileMark_[file] == stamp_ || fileMark_[file] == keepStamp_) return;
        fileMark_[file] = stamp_;
        const FileReport& report = *map_.models[file].report;
        if (report.model) {
            bytes_ += report.model->arrayBytes + report.model->vertexBufferBytes + report.model->indexBufferBytes;
        }
        for (std::size_t texture : texturesOf[file]) {
            if (textureMark_[texture] == stamp_ || textureMark_[texture] == keepStamp_) continue;
            textureMark_[texture] = stamp_;
            bytes_ += textureBytes_[texture];
        }
    }
    std::uint64_t Bytes() const { return bytes_; }

private:
    const CheckedMap& map_;
    std::vector<std::uint64_t> textureBytes_;
    std::vector<std::uint32_t> fileMark_, textureMark_;
    std::uint32_t stamp_ = 0, keepStamp_ = ~0u;
    std::uint64_t bytes_ = 0;
};

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    return text;
}

}  // namespace

void EstimateDriveMemory(CheckedMap& map, const Config::OptionsRecord& options,
                         const std::vector<const ModelStats*>& collisionFiles, Totals& totals)
{
    // Textures by number.
    std::map<std::string, std::size_t> textureIndex;
    std::vector<std::uint64_t> textureBytes;
    std::vector<std::vector<std::size_t>> texturesOf(map.models.size());
    for (std::size_t m = 0; m < map.models.size(); ++m) {
        for (const std::string& path : map.models[m].textures) {
            auto found = textureIndex.find(path);
            if (found == textureIndex.end()) {
                auto bytes = map.textureBytes.find(path);
                found = textureIndex.emplace(path, textureBytes.size()).first;
                textureBytes.push_back(bytes == map.textureBytes.end() ? 0 : bytes->second);
            }
            texturesOf[m].push_back(found->second);
        }
    }

    std::uint64_t fixed = kPluginImageBytes;
    for (const ModelStats* collision : collisionFiles) {
        fixed += collision->vertices * kBulletVertexBytes + collision->triangles * kTriangleBytes +
                 collision->barrierSegments * kBarrierSegmentBytes;
        if (options.ShowCollisions) {
            fixed += collision->arrayBytes + collision->vertexBufferBytes + collision->indexBufferBytes;
        }
    }
    totals.fixedBytes = fixed;

    // Loaded everywhere: the LODs and the groups without one; with
    // DontUnloadCulledModels, at the end of a drive past every group,
    // everything.
    LoadedSet loaded(map, textureBytes);
    loaded.Begin(fixed);
    std::vector<std::size_t> ranged;  // groups with a LOD whose sphere is known
    for (std::size_t g = 0; g < map.groups.size(); ++g) {
        const DeclaredGroup& group = map.groups[g];
        if (group.lod) loaded.AddFile(*group.lod, texturesOf);
        const bool sphere = group.lod && map.models[*group.lod].report->model;
        if (!group.lod || !sphere || options.DontUnloadCulledModels) {
            for (std::size_t part : group.parts) loaded.AddFile(part, texturesOf);
        } else {
            ranged.push_back(g);
        }
    }
    const std::uint64_t base = loaded.Bytes();
    loaded.KeepCurrent();
    totals.worstDriveBytes = base;
    totals.worstDriveGroups = options.DontUnloadCulledModels ? static_cast<std::uint32_t>(map.groups.size()) : 0;
    std::fill(totals.worstDriveAt, totals.worstDriveAt + 3, 0.0f);

    std::vector<Sphere> spheres;
    for (std::size_t g : ranged) spheres.push_back(SphereOf(*map.models[*map.groups[g].lod].report->model));
    std::vector<Sphere> candidates = spheres;
    for (std::size_t g : ranged) {
        const std::size_t main = map.groups[g].parts.front();
        if (map.models[main].report->model) candidates.push_back(SphereOf(*map.models[main].report->model));
    }
    bool first = true;
    for (const Sphere& at : candidates) {
        loaded.Begin(base);
        std::uint32_t inRange = 0;
        for (std::size_t r = 0; r < ranged.size(); ++r) {
            float squared = 0;
            for (int axis = 0; axis < 3; ++axis) {
                const float offset = spheres[r].center[axis] - at.center[axis];
                squared += offset * offset;
            }
            if (!(options.LODDistance + spheres[r].radius > std::sqrt(squared))) continue;
            ++inRange;
            for (std::size_t part : map.groups[ranged[r]].parts) loaded.AddFile(part, texturesOf);
        }
        if (first || loaded.Bytes() > totals.worstDriveBytes) {
            totals.worstDriveBytes = loaded.Bytes();
            totals.worstDriveGroups = inRange;
            std::copy(at.center, at.center + 3, totals.worstDriveAt);
            first = false;
        }
    }

    if (totals.worstDriveBytes <= kAddressSpaceWarningBytes || !map.mapDefinition) return;
    char where[96];
    std::snprintf(where, sizeof where, "(%.1f, %.1f, %.1f)", totals.worstDriveAt[0], totals.worstDriveAt[1],
                  totals.worstDriveAt[2]);
    map.mapDefinition->findings.push_back(
        {Severity::Warning, "address-space",
         "at the worst point of a drive the map needs about " + Megabytes(totals.worstDriveBytes) +
             " of the game's address space (" +
             (options.DontUnloadCulledModels ? std::string("DontUnloadCulledModels keeps every group loaded")
                                             : std::to_string(totals.worstDriveGroups) +
                                                   " groups with a LOD in range near " + where) +
             ", " + Megabytes(totals.fixedBytes) + " of it the plug-in's own and the collision world), more than the " +
             Megabytes(kAddressSpaceWarningBytes) + " a 32-bit game can spare: the game may run out of memory "
             "there; give large groups LODs, lower LODDistance or make the textures smaller"});
}

}  // namespace MapChecker
