#include "map_check.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "base/game_directory.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "checked_map.h"
#include "declared_files.h"
#include "drive_memory.h"
#include "import_cache.h"
#include "ini_layout.h"
#include "nested_groups.h"
#include "progress_line.h"
#include "scale_check.h"
#include "settings_check.h"
#include "texture_check.h"

namespace MapChecker {
namespace {

std::string FullDirectory(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) throw CheckerFailure("cannot use the path " + path);
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CheckerFailure(std::string("no game directory ") + full);
    }
    std::string directory = full;
    while (directory.size() > 3 && (directory.back() == '\\' || directory.back() == '/')) directory.pop_back();
    return directory;
}

// The plug-in's globals start as they do in a fresh game process.
void ResetPluginState()
{
    Config::Options = Config::OptionsRecord{};
    Config::MapModels.clear();
    Config::MapCollisions.clear();
    Config::DiscardIniCache();
}

// Every texture path the map uses, in first-use order, with its users.
class TextureUses {
public:
    void Add(const std::string& path, const std::string& user)
    {
        auto [found, inserted] = index_.emplace(path, order_.size());
        if (inserted) order_.push_back({path, {}});
        std::vector<std::string>& users = order_[found->second].second;
        if (std::find(users.begin(), users.end(), user) == users.end()) users.push_back(user);
    }
    const std::vector<std::pair<std::string, std::vector<std::string>>>& All() const { return order_; }

private:
    std::map<std::string, std::size_t> index_;
    std::vector<std::pair<std::string, std::vector<std::string>>> order_;
};

// The checks over the whole map, once every file has its report.
void CheckWholeMap(CheckReport& report, const std::vector<DeclaredFile>& declared, std::vector<DeclaredGroup> groups,
                   std::size_t firstModel, std::vector<std::vector<std::string>> texturesOf)
{
    CheckedMap map;
    map.groups = std::move(groups);
    std::vector<const ModelStats*> collisionFiles;
    std::vector<std::size_t> visual(declared.size());  // a declared file's place in map.models
    for (std::size_t i = 0; i < declared.size(); ++i) {
        FileReport& file = report.files[firstModel + i];
        if (declared[i].job.collision) {
            if (file.model) collisionFiles.push_back(&*file.model);
            continue;
        }
        visual[i] = map.models.size();
        map.models.push_back({&declared[i], &file, std::move(texturesOf[i])});
    }
    for (DeclaredGroup& group : map.groups) {  // collision files come after every visual file
        for (std::size_t& part : group.parts) part = visual[part];
        if (group.lod) group.lod = visual[*group.lod];
    }
    for (FileReport& file : report.files) {
        if (file.kind == FileKind::Texture && file.texture) map.textureBytes[file.path] = file.texture->estimatedBytes;
        if (file.kind == FileKind::MapDefinition) map.mapDefinition = &file;
    }
    CheckModelScales(map);
    CheckNestedGroups(map);
    EstimateDriveMemory(map, Config::Options, collisionFiles, report.totals);
}

}  // namespace

CheckReport RunMapCheck(const CheckRequest& request)
{
    CheckReport report;
    report.gameDirectory = FullDirectory(request.gameDirectory);
    if (!SetCurrentDirectoryA(report.gameDirectory.c_str())) {
        throw CheckerFailure("cannot enter the game directory " + report.gameDirectory);
    }
    Startup::CaptureGameDirectory();
    if (Startup::GameDirectory[0] == '\0') {
        throw CheckerFailure("the game directory's path is longer than the plug-in can use (259 characters)");
    }
    ResetPluginState();

    SettingsCheck settings = CheckSettings();
    report.options = settings.options;
    if (GetFileAttributesA(settings.settingsPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        CheckIniLayout(ScanIniLayout(settings.settingsPath), false, settings.settingsPath, settings.settings);
    }
    if (settings.mapRead) {
        CheckIniLayout(ScanIniLayout(settings.mapPath), true, settings.mapPath, settings.mapDefinition);
    }
    report.files.push_back(std::move(settings.settings));
    if (!settings.mapDefinition.path.empty()) report.files.push_back(std::move(settings.mapDefinition));

    std::vector<DeclaredGroup> groups;
    const std::vector<DeclaredFile> declared = CollectDeclaredFiles(&groups);
    std::vector<ImportJob> jobs;
    for (const DeclaredFile& file : declared) jobs.push_back(file.job);
    WorkerPoolOptions workers = request.workers;
    workers.gameDirectory = report.gameDirectory;
    std::vector<ImportResult> results;
    {
        ProgressLine progress(request.showProgress);
        try {
            const ImportJobs import = [&](const std::vector<ImportJob>& some) {
                return ImportInWorkers(some, workers, [&](std::size_t done, std::size_t total, const std::string& file) {
                    progress.Update(done, total, file);
                });
            };
            results = request.importCache.empty()
                          ? import(jobs)
                          : ImportWithCache(jobs, request.importCache,
                                            FileFingerprint(settings.settingsPath) + "\t" + FileFingerprint(settings.mapPath),
                                            import);
        } catch (const std::runtime_error& error) {
            throw CheckerFailure(error.what());
        }
    }

    TextureUses textures;
    std::set<std::string> lodTextures;
    const std::size_t firstModel = report.files.size();
    std::vector<std::vector<std::string>> texturesOf(declared.size());
    for (std::size_t i = 0; i < declared.size(); ++i) {
        const DeclaredFile& file = declared[i];
        ImportResult& result = results[i];
        FileReport model;
        model.kind = file.job.collision ? FileKind::CollisionModel : FileKind::Model;
        model.path = file.job.path;
        model.texturePath = file.job.texturePath;
        model.roles = file.roles;
        model.findings = std::move(result.findings);
        if (result.imported) model.model = result.stats;

        std::vector<std::string> used = result.textures;
        if (!file.job.collision && !file.job.texturePath.empty()) used.push_back(file.job.texturePath);
        texturesOf[i] = used;
        for (const std::string& texture : used) {
            textures.Add(texture, file.job.path);
            if (file.drawnFar) lodTextures.insert(texture);
        }
        if (model.model) {
            const ModelStats& stats = *model.model;
            const std::uint64_t buffers = stats.vertexBufferBytes + stats.indexBufferBytes;
            report.totals.fullDetailBytes += buffers;
            if (file.drawnFar) report.totals.lodOnlyBytes += buffers;
            if (file.job.collision) {
                report.totals.collisionTriangles += stats.triangles;
            } else {
                report.totals.triangles += stats.triangles;
            }
        }
        report.files.push_back(std::move(model));
    }
    for (const auto& [path, users] : textures.All()) {
        FileReport texture;
        texture.kind = FileKind::Texture;
        texture.path = path;
        texture.roles = users;
        CheckTexture(texture);
        if (texture.texture) {
            report.totals.fullDetailBytes += texture.texture->estimatedBytes;
            if (lodTextures.count(path)) report.totals.lodOnlyBytes += texture.texture->estimatedBytes;
        }
        report.files.push_back(std::move(texture));
    }

    CheckWholeMap(report, declared, std::move(groups), firstModel, std::move(texturesOf));

    std::set<std::string> distinct;
    for (const FileReport& file : report.files) distinct.insert(file.path);
    report.totals.files = static_cast<std::uint32_t>(distinct.size());
    return report;
}

}  // namespace MapChecker
