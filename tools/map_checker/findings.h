// What a map check finds: per file of the game directory its findings and
// statistics, the effective options and the map's totals. Plain data,
// filled by the check and turned into text or JSON by the reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace MapChecker {

// Fatal: the game would end (or the importer crash or hang) on it.
// Warning: the plug-in would silently do something other than the author meant.
enum class Severity { Fatal, Warning };

struct Finding {
    Severity severity = Severity::Warning;
    std::string code;     // stable identifier for tools, such as "no-normals"
    std::string message;  // one sentence for people
};

// A model file as the plug-in imports it.
struct ModelStats {
    std::uint32_t meshes = 0;  // after merging by texture (collision files: one per sub-mesh)
    std::uint32_t triangles = 0;
    std::uint32_t vertices = 0;
    std::uint32_t untexturedMeshes = 0;
    std::uint32_t barrierSegments = 0;  // collision files only
    float center[3] = {0, 0, 0};
    float radius = 0;
    std::uint64_t vertexBufferBytes = 0;  // zero when the plug-in gives the file no render data
    std::uint64_t indexBufferBytes = 0;
    float boundsMin[3] = {0, 0, 0};  // the model's box, map model space (Z up)
    float boundsMax[3] = {0, 0, 0};
    std::uint64_t arrayBytes = 0;    // the arrays the plug-in keeps for the model's life (positions, normals, ...)
    double unitScaleFactor = 0;      // an FBX file's UnitScaleFactor (centimetres per unit); 0 for none
};

struct TextureStats {
    std::uint32_t width = 0, height = 0;
    std::string format;
    std::uint64_t estimatedBytes = 0;  // on the device, power-of-two size and full mip chain
};

enum class FileKind { Settings, MapDefinition, Model, CollisionModel, Texture };

struct FileReport {
    FileKind kind = FileKind::Model;
    std::string path;                // as the plug-in uses it, relative to the game directory
    std::string texturePath;         // models: the declared texture that replaces the materials'
    std::vector<std::string> roles;  // the keys that name it, or the models that use it
    std::vector<Finding> findings;
    std::optional<ModelStats> model;
    std::optional<TextureStats> texture;
};

// An option's effective value and where it came from.
struct OptionReport {
    std::string key;
    std::string value;
    std::string source;  // "settings file", "map definition" or "default"
};

struct Totals {
    std::uint32_t files = 0;
    std::uint64_t triangles = 0;            // the visual models, each file once
    std::uint64_t fullDetailBytes = 0;      // every member and LOD model and texture loaded
    std::uint64_t lodOnlyBytes = 0;         // only the LOD models and their textures
    std::uint64_t collisionTriangles = 0;   // what the collision build turns into Bullet meshes
    // The worst point of a drive (drive_memory.h): the address space the
    // plug-in needs there, its fixed part, how many groups with a LOD have
    // their models loaded there, and where (map model space, Z up).
    std::uint64_t worstDriveBytes = 0;
    std::uint64_t fixedBytes = 0;
    std::uint32_t worstDriveGroups = 0;
    float worstDriveAt[3] = {0, 0, 0};
};

struct CheckReport {
    std::string gameDirectory;
    std::vector<OptionReport> options;
    std::vector<FileReport> files;  // settings, map definition, models, collision models, textures
    Totals totals;
};

const char* SeverityName(Severity severity);
const char* FileKindName(FileKind kind);

// The worst severity among a file's findings; nothing when it has none.
std::optional<Severity> WorstSeverity(const FileReport& file);

// 0 clean, 1 warnings only, 2 something fatal.
int ExitCodeFor(const CheckReport& report);
inline constexpr int kExitCheckerFailed = 3;

}  // namespace MapChecker
