#include "worker_protocol.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace MapChecker {
namespace {

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::string Float(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace

std::string EncodeJob(const ImportJob& job)
{
    return "job\t" + std::string(job.collision ? "1" : "0") + "\t" + Escape(job.path) + "\t" +
           Escape(job.texturePath) + "\n";
}

std::optional<ImportJob> DecodeJob(const std::string& line)
{
    std::vector<std::string> fields = Fields(line);
    if (fields.size() != 4 || fields[0] != "job") return std::nullopt;
    return ImportJob{fields[2], fields[3], fields[1] == "1"};
}

std::string EncodeResult(const ImportResult& result)
{
    std::string text;
    for (const Finding& finding : result.findings) {
        text += "finding\t" + std::string(SeverityName(finding.severity)) + "\t" + Escape(finding.code) + "\t" +
                Escape(finding.message) + "\n";
    }
    if (result.imported) {
        const ModelStats& s = result.stats;
        text += "stats\t" + std::to_string(s.meshes) + "\t" + std::to_string(s.triangles) + "\t" +
                std::to_string(s.vertices) + "\t" + std::to_string(s.untexturedMeshes) + "\t" +
                std::to_string(s.barrierSegments) + "\t" + Float(s.center[0]) + "\t" + Float(s.center[1]) + "\t" +
                Float(s.center[2]) + "\t" + Float(s.radius) + "\t" + std::to_string(s.vertexBufferBytes) + "\t" +
                std::to_string(s.indexBufferBytes) + "\n";
    }
    if (result.imported) {
        const ModelStats& s = result.stats;
        text += "extent";
        for (int axis = 0; axis < 3; ++axis) text += "\t" + Float(s.boundsMin[axis]);
        for (int axis = 0; axis < 3; ++axis) text += "\t" + Float(s.boundsMax[axis]);
        char unit[32];
        std::snprintf(unit, sizeof unit, "%.17g", s.unitScaleFactor);
        text += "\t" + std::to_string(s.arrayBytes) + "\t" + unit + "\n";
    }
    for (const std::string& texture : result.textures) text += "texture\t" + Escape(texture) + "\n";
    for (const FileRead& read : result.reads) text += "read\t" + Escape(read.path) + "\t" + Escape(read.fingerprint) + "\n";
    return text + "done\n";
}

bool ResultDecoder::Take(const std::string& line)
{
    std::vector<std::string> f = Fields(line);
    if (f[0] == "done" && f.size() == 1) return true;
    if (f[0] == "finding" && f.size() == 4) {
        result_.findings.push_back({f[1] == "fatal" ? Severity::Fatal : Severity::Warning, f[2], f[3]});
        return false;
    }
    if (f[0] == "extent" && f.size() == 9) {
        ModelStats& s = result_.stats;
        for (int axis = 0; axis < 3; ++axis) s.boundsMin[axis] = std::stof(f[1 + axis]);
        for (int axis = 0; axis < 3; ++axis) s.boundsMax[axis] = std::stof(f[4 + axis]);
        s.arrayBytes = std::stoull(f[7]);
        s.unitScaleFactor = std::stod(f[8]);
        return false;
    }
    if (f[0] == "read" && f.size() == 3) {
        result_.reads.push_back({f[1], f[2]});
        return false;
    }
    if (f[0] == "texture" && f.size() == 2) {
        result_.textures.push_back(f[1]);
        return false;
    }
    if (f[0] == "stats" && f.size() == 12) {
        ModelStats& s = result_.stats;
        s.meshes = std::stoul(f[1]);
        s.triangles = std::stoul(f[2]);
        s.vertices = std::stoul(f[3]);
        s.untexturedMeshes = std::stoul(f[4]);
        s.barrierSegments = std::stoul(f[5]);
        for (int axis = 0; axis < 3; ++axis) s.center[axis] = std::stof(f[6 + axis]);
        s.radius = std::stof(f[9]);
        s.vertexBufferBytes = std::stoull(f[10]);
        s.indexBufferBytes = std::stoull(f[11]);
        result_.imported = true;
        return false;
    }
    throw std::runtime_error("unexpected line from an import worker: " + line.substr(0, 80));
}

}  // namespace MapChecker
