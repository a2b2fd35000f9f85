#include "declared_files.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "config/config_keys.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"

namespace MapChecker {
namespace {

// The indices behind the declared lists: the plug-in keeps entries in
// ascending index order without their indices, so the set keys, sorted,
// line up with the lists.
struct DeclaredIndices {
    std::vector<int> models, collisions;
    std::map<int, std::vector<int>> members;
};

bool IsSet(const std::string& key) { return Config::ReadIniString(key.c_str()) != nullptr; }

DeclaredIndices FindDeclaredIndices()
{
    DeclaredIndices found;
    std::optional<std::vector<std::wstring>> names = Config::ListIniKeys();
    if (!names) return found;
    for (const std::wstring& name : *names) {
        std::optional<Config::MapKey> key = Config::ParseMapKey(name);
        if (!key) continue;
        const std::string model = "MapModel" + std::to_string(key->index);
        if (key->kind == Config::MapKey::ModelPath && IsSet(model + "Path")) found.models.push_back(key->index);
        if (key->kind == Config::MapKey::CollisionPath && IsSet("MapCollision" + std::to_string(key->index) + "Path")) {
            found.collisions.push_back(key->index);
        }
        if (key->kind == Config::MapKey::MemberPath && IsSet(model + "Path" + std::to_string(key->member))) {
            found.members[key->index].push_back(key->member);
        }
    }
    std::sort(found.models.begin(), found.models.end());
    std::sort(found.collisions.begin(), found.collisions.end());
    for (auto& entry : found.members) std::sort(entry.second.begin(), entry.second.end());
    return found;
}

class Collector {
public:
    std::size_t Add(const ImportJob& job, const std::string& role, bool near, bool far)
    {
        auto key = std::make_tuple(job.path, job.texturePath, job.collision);
        auto found = index_.find(key);
        if (found == index_.end()) {
            found = index_.emplace(key, files_.size()).first;
            files_.push_back(DeclaredFile{job, {}, false, false});
        }
        DeclaredFile& file = files_[found->second];
        file.roles.push_back(role);
        file.drawnNear |= near;
        file.drawnFar |= far;
        return found->second;
    }
    std::vector<DeclaredFile> Take() { return std::move(files_); }

private:
    std::vector<DeclaredFile> files_;
    std::map<std::tuple<std::string, std::string, bool>, std::size_t> index_;
};

}  // namespace

std::vector<DeclaredFile> CollectDeclaredFiles(std::vector<DeclaredGroup>* groups)
{
    const DeclaredIndices indices = FindDeclaredIndices();
    const bool modelsNamed = indices.models.size() == Config::MapModels.size();
    Collector collector;
    for (std::size_t e = 0; e < Config::MapModels.size(); ++e) {
        const Config::MapModelEntry& entry = Config::MapModels[e];
        const std::string model = modelsNamed ? "MapModel" + std::to_string(indices.models[e])
                                              : "model entry " + std::to_string(e);
        std::vector<int> members;
        if (modelsNamed) {
            auto found = indices.members.find(indices.models[e]);
            if (found != indices.members.end()) members = found->second;
        }
        DeclaredGroup group{model, {}, std::nullopt};
        for (std::size_t p = 0; p < entry.Parts.size(); ++p) {
            std::string role = model + "Path";
            if (p > 0) role += members.size() + 1 == entry.Parts.size() ? std::to_string(members[p - 1]) : "?";
            group.parts.push_back(
                collector.Add({entry.Parts[p].Path, entry.Parts[p].TexturePath, false}, role, true, false));
        }
        if (!entry.LODPath.empty() && !entry.Parts.empty()) {
            group.lod =
                collector.Add({entry.LODPath, entry.Parts.front().TexturePath, false}, model + "LODPath", false, true);
        }
        if (groups) groups->push_back(std::move(group));
    }
    const bool collisionsNamed = indices.collisions.size() == Config::MapCollisions.size();
    for (std::size_t c = 0; c < Config::MapCollisions.size(); ++c) {
        std::string role = collisionsNamed ? "MapCollision" + std::to_string(indices.collisions[c]) + "Path"
                                           : "collision entry " + std::to_string(c);
        collector.Add({Config::MapCollisions[c], "", true}, role, false, false);
    }
    return collector.Take();
}

}  // namespace MapChecker
