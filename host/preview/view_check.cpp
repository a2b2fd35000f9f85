#include "preview/view_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>

namespace Host {

namespace {

// The planes of a view that does not say its subject's size: a street-sized
// scene.
constexpr float kFixedNear = 0.5f, kFixedFar = 5000.0f;
// A 24-bit depth buffer keeps surfaces apart up to about this ratio of the
// planes' distances.
constexpr float kDepthRatio = 20000.0f;
constexpr float kWidestView = 3.14159265f / 3, kNarrowestView = 3.14159265f / 90;

}  // namespace

ViewProjection FitProjection(float distance, float radius)
{
    ViewProjection projection{kFixedNear, kFixedFar, kWidestView};
    if (!(radius > 0)) return projection;
    projection.farPlane = (distance + radius) * 1.05f + 1.0f;
    // Outside the subject the near plane goes half-way to it; inside, as
    // near as the depth buffer allows.
    projection.nearPlane =
        std::max(projection.farPlane / kDepthRatio, distance > radius ? 0.5f * (distance - radius) : 0.0f);
    // The cone that just holds the sphere, with a margin.
    if (distance > 1.05f * radius) {
        const float framing = 2 * std::atan(1.15f * radius / std::sqrt(distance * distance - radius * radius));
        projection.fieldOfView = std::clamp(framing, kNarrowestView, kWidestView);
    }
    return projection;
}

ViewVerdict CheckViewPicture(const std::vector<unsigned char>& rgb, const unsigned char sky[3],
                             const ViewGeometry& geometry)
{
    ViewVerdict verdict;
    const std::size_t pixels = rgb.size() / 3;
    if (pixels == 0) {
        verdict.showsSubject = false;
        verdict.cause = "no picture";
        return verdict;
    }
    std::size_t subject = 0;
    std::unordered_map<std::uint32_t, std::size_t> colours;
    colours.reserve(4096);
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned char* p = &rgb[3 * i];
        if (p[0] != sky[0] || p[1] != sky[1] || p[2] != sky[2]) ++subject;
        ++colours[std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]];
    }
    std::uint32_t flatColour = 0;
    std::size_t flatCount = 0;
    for (const auto& [colour, count] : colours) {
        if (count > flatCount) flatColour = colour, flatCount = count;
    }
    verdict.subjectShare = double(subject) / double(pixels);
    verdict.flatShare = double(flatCount) / double(pixels);
    // Sky all over is told by the subject's share; one other colour all
    // over is a model's surface right before the camera.
    const std::uint32_t skyColour = std::uint32_t(sky[0]) << 16 | std::uint32_t(sky[1]) << 8 | sky[2];
    const bool flat = flatColour != skyColour && verdict.flatShare >= kFlatShare;
    verdict.showsSubject = verdict.subjectShare >= kLeastSubjectShare && !flat;
    if (verdict.showsSubject) return verdict;

    const float nearest = geometry.radius > 0 ? geometry.distance - geometry.radius : geometry.distance;
    if (geometry.draws == 0) {
        verdict.cause = "nothing drawable: no model of it drew (its files missing, empty or given up)";
    } else if (nearest > geometry.farPlane) {
        verdict.cause = "subject beyond the far plane";
    } else if (flat) {
        verdict.cause = geometry.drawnAlone ? "camera inside a model of the subject: the picture is one colour"
                                            : "camera inside or behind another model: the picture is one colour";
    } else {
        verdict.cause = "drawn but not seen: it faces away, lies outside the picture or is too small from here";
    }
    return verdict;
}

std::string FormatViewCheck(const std::string& name, const ViewVerdict& verdict)
{
    char share[32];
    std::snprintf(share, sizeof share, " %.2f%%", 100 * verdict.subjectShare);
    return name + (verdict.showsSubject ? " ok" : " empty") + share +
           (verdict.showsSubject ? std::string() : " " + verdict.cause);
}

std::map<std::string, ViewVerdict> ReadViewChecks(const std::string& file)
{
    std::map<std::string, ViewVerdict> checks;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string name, state;
        double percent = 0;
        if (!(fields >> name >> state >> percent) || (state != "ok" && state != "empty")) continue;
        fields.ignore(1);  // the '%'
        ViewVerdict& verdict = checks[name];
        verdict.showsSubject = state == "ok";
        verdict.subjectShare = percent / 100;
        std::getline(fields >> std::ws, verdict.cause);
    }
    return checks;
}

namespace {

std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '<') {
            out += "\\u003c";  // never "</script>" inside the page
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + '"';
}

}  // namespace

std::string FormatViewChecksScript(const std::map<std::string, ViewVerdict>& checks)
{
    std::string out = "const viewChecks = {";
    bool first = true;
    for (const auto& [name, verdict] : checks) {
        char share[32];
        std::snprintf(share, sizeof share, "%.4f", verdict.subjectShare);
        out += std::string(first ? "\n  " : ",\n  ") + JsonText(name) + ": {\"shows\": " +
               (verdict.showsSubject ? "true" : "false") + ", \"share\": " + share + ", \"cause\": " +
               JsonText(verdict.cause) + "}";
        first = false;
    }
    return out + "\n};\n";
}

}  // namespace Host
