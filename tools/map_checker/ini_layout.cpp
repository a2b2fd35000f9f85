#include "ini_layout.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "config/config_keys.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"

namespace MapChecker {
namespace {

bool IsProfileSpace(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A; }

std::string Trim(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsProfileSpace(text[begin])) ++begin;
    while (end > begin && IsProfileSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The file's text as bytes: UTF-16 files are turned into UTF-8 (names are
// compared in ASCII only, so the code page of the rest does not matter).
std::string ReadText(const std::string& path, bool& readable)
{
    std::ifstream file(path, std::ios::binary);
    readable = static_cast<bool>(file);
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::string text = bytes.str();
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
    const bool little = text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
    const bool big = text.size() >= 2 && text[0] == '\xFE' && text[1] == '\xFF';
    if (!little && !big) return text;
    std::wstring wide;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
        unsigned char a = text[i], b = text[i + 1];
        wide.push_back(static_cast<wchar_t>(little ? (b << 8 | a) : (a << 8 | b)));
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known key nearest to `lowerName`, when it is near enough to be a typo.
std::string NearestKey(const std::string& lowerName, const char* const* keys)
{
    std::string best;
    std::size_t bestDistance = std::string::npos;
    for (; *keys; ++keys) {
        std::size_t distance = EditDistance(lowerName, Lower(*keys));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = *keys;
        }
    }
    return bestDistance <= std::max<std::size_t>(2, lowerName.size() / 4) ? best : std::string();
}

bool InList(const std::string& lowerName, const char* const* keys)
{
    for (; *keys; ++keys) {
        if (lowerName == Lower(*keys)) return true;
    }
    return false;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A name shaped like a model or collision key, whatever its numbers: the
// kind of key and the numbers as written.
struct MapKeyShape {
    bool collision = false;
    std::string index, member;  // member empty when none
};

bool TakeDigits(const std::string& text, std::size_t& at, std::string& digits)
{
    std::size_t start = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    digits = text.substr(start, at - start);
    return !digits.empty();
}

bool ShapeOf(const std::string& lowerName, MapKeyShape& shape)
{
    std::size_t at;
    if (lowerName.rfind("mapcollision", 0) == 0) {
        at = 12;
        shape.collision = true;
        return TakeDigits(lowerName, at, shape.index) && lowerName.substr(at) == "path";
    }
    if (lowerName.rfind("mapmodel", 0) != 0) return false;
    at = 8;
    if (!TakeDigits(lowerName, at, shape.index)) return false;
    std::string rest = lowerName.substr(at);
    if (rest == "lodpath") return true;
    for (const char* stem : {"texturepath", "path"}) {
        std::string s = stem;
        if (rest.compare(0, s.size(), s) != 0) continue;
        std::size_t memberAt = at + s.size();
        if (memberAt == lowerName.size()) return true;
        return TakeDigits(lowerName, memberAt, shape.member) && memberAt == lowerName.size();
    }
    return false;
}

// Why the plug-in never asks for a key of that shape.
std::string IndexProblem(const MapKeyShape& shape)
{
    auto plain = [](const std::string& digits) { return digits.size() == 1 || digits[0] != '0'; };
    auto value = [](const std::string& digits) { return digits.size() > 6 ? 99999999L : std::stol(digits); };
    if (!plain(shape.index) || (!shape.member.empty() && !plain(shape.member))) {
        return "an index written with a leading zero: the plug-in asks only for indices in plain decimal";
    }
    if (value(shape.index) >= Config::kMapIndexCount) {
        return std::string(shape.collision ? "collision" : "model") + " index " + shape.index +
               " is beyond the last one read, 8191";
    }
    return "group member index " + shape.member + " is beyond the last one read, 255";
}

std::string Read(const std::string& fullPath, const std::string& key)
{
    return Config::ActiveIniSource().Read(fullPath, "Options", key.c_str());
}

// A key of a model entry that is only read when the entry is declared
// (its main path set) and, for a member texture, when the member is.
void CheckMapKeyOwner(const IniKeyLine& key, const Config::MapKey& parsed, const std::string& fullPath,
                      FileReport& report)
{
    using Config::MapKey;
    if (parsed.kind == MapKey::ModelPath || parsed.kind == MapKey::CollisionPath) return;
    const std::string model = "MapModel" + std::to_string(parsed.index);
    std::string owner;
    if (Read(fullPath, model + "Path").empty()) {
        owner = model + "Path";
    } else if (parsed.kind == MapKey::MemberTexturePath &&
               Read(fullPath, model + "Path" + std::to_string(parsed.member)).empty()) {
        owner = model + "Path" + std::to_string(parsed.member);
    }
    if (owner.empty() || Read(fullPath, key.name).empty()) return;
    report.findings.push_back({Severity::Warning, "orphan-key",
                               key.name + " (line " + std::to_string(key.line) + ") is never read: " + owner +
                                   " is not set, and only a declared model's members, textures and LOD are read"});
}

void CheckKnownKey(const IniKeyLine& key, bool mapFile, const std::string& fullPath, FileReport& report)
{
    const std::string& name = key.lowerName;
    const std::string where = key.name + " (line " + std::to_string(key.line) + ")";
    if (!mapFile) {
        if (InList(name, Config::kSettingsKeys)) return;
        if (Config::IsSystemKey(Wide(name))) {
            report.findings.push_back({Severity::Warning, "unknown-key",
                                       where + " is read only from the map definition: here it is ignored"});
            return;
        }
        std::string nearest = NearestKey(name, Config::kSettingsKeys);
        report.findings.push_back({Severity::Warning, "unknown-key",
                                   where + " is not a setting the plug-in reads" +
                                       (nearest.empty() ? std::string() : "; did you mean " + nearest + "?")});
        return;
    }
    if (std::optional<Config::MapKey> parsed = Config::ParseMapKey(Wide(name))) {
        CheckMapKeyOwner(key, *parsed, fullPath, report);
        return;
    }
    if (InList(name, Config::kMapOptionKeys)) return;
    MapKeyShape shape;
    if (ShapeOf(name, shape)) {
        report.findings.push_back({Severity::Warning, "index-beyond-limit",
                                   where + " is never read: " + IndexProblem(shape)});
        return;
    }
    if (InList(name, Config::kSettingsKeys)) {
        report.findings.push_back({Severity::Warning, "unknown-key",
                                   where + " is read only from VornakMapLoader_Config.ini: here it is ignored"});
        return;
    }
    std::string nearest = NearestKey(name, Config::kMapOptionKeys);
    report.findings.push_back({Severity::Warning, "unknown-key",
                               where + " is not a key the plug-in reads" +
                                   (nearest.empty() ? std::string() : "; did you mean " + nearest + "?")});
}

}  // namespace

std::vector<IniSectionLines> ScanIniLayout(const std::string& path)
{
    bool readable = false;
    const std::string text = ReadText(path, readable);
    std::vector<IniSectionLines> sections;
    if (!readable) return sections;
    sections.push_back({0, "", {}});
    int lineNumber = 1;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        if (!line.empty() && line[0] == '[' && line.find(']') != std::string::npos) {
            sections.push_back({lineNumber, Trim(line.substr(1, line.rfind(']') - 1)), {}});
        } else if (!line.empty() && line[0] != ';' && line[0] != '#') {
            std::string name = Trim(line.substr(0, line.find('=')));
            sections.back().keys.push_back({lineNumber, name, Lower(name)});
        }
        if (end >= text.size()) break;
        // CR LF is one line end for the line numbers people see.
        at = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
        ++lineNumber;
    }
    return sections;
}

void CheckIniLayout(const std::vector<IniSectionLines>& sections, bool mapFile, const std::string& fullPath,
                    FileReport& report)
{
    const IniSectionLines* read = nullptr;
    for (const IniSectionLines& section : sections) {
        const bool options = Lower(section.name) == "options" && section.line > 0;
        if (options && !read) {
            read = &section;
            continue;
        }
        if (section.keys.empty()) continue;
        const std::size_t keys = section.keys.size();
        const std::string count = std::to_string(keys) + (keys == 1 ? " key" : " keys");
        if (options) {
            report.findings.push_back({Severity::Warning, "shadowed-section",
                                       "[" + section.name + "] at line " + std::to_string(section.line) +
                                           " repeats the section at line " + std::to_string(read->line) +
                                           ": the plug-in reads only the first, so its " + count +
                                           (keys == 1 ? " is ignored" : " are ignored")});
        } else if (section.line == 0) {
            report.findings.push_back({Severity::Warning, "key-outside-options",
                                       count + " before the first section header (line " +
                                           std::to_string(section.keys.front().line) +
                                           ") are ignored: the plug-in reads only section [Options]"});
        } else {
            report.findings.push_back({Severity::Warning, "key-outside-options",
                                       "section [" + section.name + "] at line " + std::to_string(section.line) +
                                           " (" + count + ") is never read: the plug-in reads only [Options]"});
        }
    }
    if (!read) return;

    std::map<std::string, int> firstLine;
    for (const IniKeyLine& key : read->keys) {
        auto [first, inserted] = firstLine.emplace(key.lowerName, key.line);
        if (!inserted) {
            report.findings.push_back({Severity::Warning, "duplicate-key",
                                       key.name + " at line " + std::to_string(key.line) + " repeats line " +
                                           std::to_string(first->second) + ": the first value wins, this one is ignored"});
            continue;
        }
        CheckKnownKey(key, mapFile, fullPath, report);
    }
}

}  // namespace MapChecker
