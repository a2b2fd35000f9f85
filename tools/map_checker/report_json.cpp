#include <cstdio>

#include "report_format.h"

namespace MapChecker {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

namespace {

std::string Quoted(const std::string& text) { return JsonString(text); }

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string Strings(const std::vector<std::string>& values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + Quoted(values[i]);
    return out + "]";
}

std::string File(const FileReport& file)
{
    std::string out = "    {\"path\": " + Quoted(file.path) + ", \"kind\": " + Quoted(FileKindName(file.kind));
    if (!file.texturePath.empty()) out += ", \"texturePath\": " + Quoted(file.texturePath);
    out += ", \"roles\": " + Strings(file.roles) + ",\n     \"findings\": [";
    for (std::size_t i = 0; i < file.findings.size(); ++i) {
        const Finding& f = file.findings[i];
        out += std::string(i ? "," : "") + "\n      {\"severity\": " + Quoted(SeverityName(f.severity)) +
               ", \"code\": " + Quoted(f.code) + ", \"message\": " + Quoted(f.message) + "}";
    }
    out += file.findings.empty() ? "]" : "\n     ]";
    if (file.model) {
        const ModelStats& s = *file.model;
        out += ",\n     \"model\": {\"meshes\": " + std::to_string(s.meshes) + ", \"triangles\": " +
               std::to_string(s.triangles) + ", \"vertices\": " + std::to_string(s.vertices) +
               ", \"untexturedMeshes\": " + std::to_string(s.untexturedMeshes) + ", \"barrierSegments\": " +
               std::to_string(s.barrierSegments) + ", \"center\": [" + Number(s.center[0]) + ", " +
               Number(s.center[1]) + ", " + Number(s.center[2]) + "], \"radius\": " + Number(s.radius) +
               ", \"vertexBufferBytes\": " + std::to_string(s.vertexBufferBytes) + ", \"indexBufferBytes\": " +
               std::to_string(s.indexBufferBytes) + "}";
    }
    if (file.texture) {
        out += ",\n     \"texture\": {\"width\": " + std::to_string(file.texture->width) + ", \"height\": " +
               std::to_string(file.texture->height) + ", \"format\": " + Quoted(file.texture->format) +
               ", \"estimatedBytes\": " + std::to_string(file.texture->estimatedBytes) + "}";
    }
    return out + "}";
}

}  // namespace

std::string FormatJsonReport(const CheckReport& report)
{
    const FindingCounts counts = CountFindings(report);
    std::string out = "{\n  \"gameDirectory\": " + Quoted(report.gameDirectory) +
                      ",\n  \"exitCode\": " + std::to_string(ExitCodeFor(report)) +
                      ",\n  \"fatal\": " + std::to_string(counts.fatal) +
                      ",\n  \"warnings\": " + std::to_string(counts.warnings) + ",\n  \"files\": [\n";
    for (std::size_t i = 0; i < report.files.size(); ++i) {
        out += File(report.files[i]) + (i + 1 < report.files.size() ? ",\n" : "\n");
    }
    out += "  ],\n  \"options\": [\n";
    for (std::size_t i = 0; i < report.options.size(); ++i) {
        const OptionReport& o = report.options[i];
        out += "    {\"key\": " + Quoted(o.key) + ", \"value\": " + Quoted(o.value) + ", \"source\": " +
               Quoted(o.source) + "}" + (i + 1 < report.options.size() ? ",\n" : "\n");
    }
    const Totals& t = report.totals;
    out += "  ],\n  \"totals\": {\"files\": " + std::to_string(t.files) + ", \"triangles\": " +
           std::to_string(t.triangles) + ", \"fullDetailBytes\": " + std::to_string(t.fullDetailBytes) +
           ", \"lodOnlyBytes\": " + std::to_string(t.lodOnlyBytes) + ", \"collisionTriangles\": " +
           std::to_string(t.collisionTriangles) + ",\n             \"worstDriveBytes\": " +
           std::to_string(t.worstDriveBytes) + ", \"fixedBytes\": " + std::to_string(t.fixedBytes) +
           ", \"worstDriveGroups\": " + std::to_string(t.worstDriveGroups) + ", \"worstDriveAt\": [" +
           Number(t.worstDriveAt[0]) + ", " + Number(t.worstDriveAt[1]) + ", " + Number(t.worstDriveAt[2]) +
           "]}\n}\n";
    return out;
}

}  // namespace MapChecker
