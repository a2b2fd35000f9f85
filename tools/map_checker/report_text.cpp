#include <algorithm>
#include <cstdio>

#include "report_format.h"

namespace MapChecker {
namespace {

std::string Bytes(std::uint64_t bytes)
{
    char text[32];
    if (bytes >= 10ull * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    } else if (bytes >= 10ull * 1024) {
        std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

std::string Number(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string StatsLine(const FileReport& file)
{
    if (file.model) {
        const ModelStats& s = *file.model;
        std::string line = std::to_string(s.meshes) + (s.meshes == 1 ? " mesh, " : " meshes, ") +
                           std::to_string(s.triangles) + " triangles, " + std::to_string(s.vertices) +
                           " vertices; sphere at (" + Number(s.center[0]) + ", " + Number(s.center[1]) + ", " +
                           Number(s.center[2]) + ") radius " + Number(s.radius);
        if (s.untexturedMeshes) line += "; " + std::to_string(s.untexturedMeshes) + " untextured";
        if (file.kind == FileKind::CollisionModel) line += "; " + std::to_string(s.barrierSegments) + " barrier segments";
        if (s.vertexBufferBytes || s.indexBufferBytes) {
            line += "; buffers " + Bytes(s.vertexBufferBytes) + " vertex + " + Bytes(s.indexBufferBytes) + " index";
        }
        return line;
    }
    if (file.texture) {
        return std::to_string(file.texture->width) + " x " + std::to_string(file.texture->height) + " " +
               file.texture->format + ", about " + Bytes(file.texture->estimatedBytes) + " on the device";
    }
    return "";
}

std::string Heading(const FileReport& file)
{
    std::string heading = file.path + "  (" + FileKindName(file.kind);
    if (!file.roles.empty()) {
        heading += file.kind == FileKind::Texture ? ", used by " : ": ";
        // A shared texture can have hundreds of users: the first few name it.
        constexpr std::size_t kShown = 3;
        const std::size_t shown = std::min(file.roles.size(), kShown);
        for (std::size_t i = 0; i < shown; ++i) heading += (i ? ", " : "") + file.roles[i];
        if (file.roles.size() > shown) heading += " and " + std::to_string(file.roles.size() - shown) + " more";
    }
    if (!file.texturePath.empty()) heading += "; texture " + file.texturePath;
    return heading + ")";
}

int Rank(const FileReport& file)
{
    std::optional<Severity> worst = WorstSeverity(file);
    return !worst ? 2 : *worst == Severity::Fatal ? 0 : 1;
}

}  // namespace

FindingCounts CountFindings(const CheckReport& report)
{
    FindingCounts counts;
    for (const FileReport& file : report.files) {
        for (const Finding& finding : file.findings) {
            (finding.severity == Severity::Fatal ? counts.fatal : counts.warnings) += 1;
        }
    }
    return counts;
}

std::string FormatTextReport(const CheckReport& report)
{
    std::vector<const FileReport*> files;
    for (const FileReport& file : report.files) files.push_back(&file);
    std::stable_sort(files.begin(), files.end(), [](auto* a, auto* b) { return Rank(*a) < Rank(*b); });

    std::string text = "Map check of " + report.gameDirectory + "\n\n";
    for (const FileReport* file : files) {
        const int rank = Rank(*file);
        text += std::string(rank == 0 ? "FATAL  " : rank == 1 ? "WARN   " : "OK     ") + Heading(*file) + "\n";
        std::vector<const Finding*> findings;
        for (const Finding& finding : file->findings) findings.push_back(&finding);
        std::stable_sort(findings.begin(), findings.end(),
                         [](auto* a, auto* b) { return a->severity == Severity::Fatal && b->severity != Severity::Fatal; });
        for (const Finding* finding : findings) {
            text += "       " + std::string(SeverityName(finding->severity)) + " " + finding->code + ": " +
                    finding->message + "\n";
        }
        std::string stats = StatsLine(*file);
        if (!stats.empty()) text += "       " + stats + "\n";
    }

    text += "\nOptions (effective value, from):\n";
    for (const OptionReport& option : report.options) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-28s %-12s %s\n", option.key.c_str(), option.value.c_str(),
                      option.source.c_str());
        text += line;
    }
    const Totals& t = report.totals;
    text += "\nTotals: " + std::to_string(t.files) + " files; " + std::to_string(t.triangles) +
            " triangles in the visual models; estimated memory " + Bytes(t.fullDetailBytes) + " at full detail, " +
            Bytes(t.lodOnlyBytes) + " with only the LODs; collision build " + std::to_string(t.collisionTriangles) +
            " triangles\n";
    text += "Address space at the worst point of a drive: " + Bytes(t.worstDriveBytes) + " (" +
            std::to_string(t.worstDriveGroups) + (t.worstDriveGroups == 1 ? " group" : " groups") + " with a LOD in range, near (" + Number(t.worstDriveAt[0]) +
            ", " + Number(t.worstDriveAt[1]) + ", " + Number(t.worstDriveAt[2]) + ")), " + Bytes(t.fixedBytes) +
            " of it the plug-in's image and the collision world\n";
    const FindingCounts counts = CountFindings(report);
    if (counts.fatal + counts.warnings == 0) {
        text += "Result: clean, nothing the plug-in would do wrong\n";
    } else {
        text += "Result: " + std::to_string(counts.fatal) + " fatal, " + std::to_string(counts.warnings) +
                " warnings\n";
    }
    return text;
}

}  // namespace MapChecker
