#include "game_copy.h"

#include <cmath>
#include <cstdio>
#include <windows.h>

#include "file_tree.h"

namespace Preview {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Start of each line and its length without the line end.
template <typename Visit>
void ForEachLine(const std::string& text, Visit visit)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        if (visit(start, length)) return;
        start = end + 1;
    }
}

// The copy's own version of one of the game's files: a new file, never
// written through a link to the game's.
bool WriteCopyFile(const std::string& original, const std::string& target, const std::vector<std::string>& lines,
                   std::string& error)
{
    std::string text;
    if (!ReadTextFile(original, text) || !WriteNewFile(target, lines.empty() ? text : PutFirstInOptions(text, lines))) {
        error = "cannot write the copy's " + target;
        return false;
    }
    return true;
}

}  // namespace

std::string PutFirstInOptions(const std::string& text, const std::vector<std::string>& lines)
{
    std::size_t lineEnd = std::string::npos;
    bool crlf = false;
    ForEachLine(text, [&](std::size_t start, std::size_t length) {
        std::size_t at = start;
        while (at < start + length && IsBlank(text[at])) ++at;
        if (length - (at - start) >= 9 && lstrcmpiA(text.substr(at, 9).c_str(), "[options]") == 0) {
            lineEnd = start + length;
            crlf = lineEnd < text.size() && text[lineEnd] == '\r';
            return true;
        }
        return false;
    });
    const std::string newline = crlf ? "\r\n" : "\n";
    std::string inserted;
    for (const std::string& line : lines) inserted += newline + line;
    if (lineEnd == std::string::npos) return "[Options]" + inserted + newline + text;
    return text.substr(0, lineEnd) + inserted + text.substr(lineEnd);
}

std::string FirstValue(const std::string& text, const std::string& key)
{
    std::string value;
    ForEachLine(text, [&](std::size_t start, std::size_t length) {
        const std::string line = text.substr(start, length);
        std::size_t at = 0;
        while (at < line.size() && IsBlank(line[at])) ++at;
        if (line.size() - at < key.size() || lstrcmpiA(line.substr(at, key.size()).c_str(), key.c_str()) != 0) {
            return false;
        }
        at += key.size();
        while (at < line.size() && IsBlank(line[at])) ++at;
        if (at >= line.size() || line[at] != '=') return false;
        value = line.substr(at + 1);
        const std::size_t first = value.find_first_not_of(" \t\"'"), last = value.find_last_not_of(" \t\"'");
        value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
        return true;
    });
    return value;
}

bool SetCopyKind(const std::string& game, const std::string& copy, double farDrawDistance, std::string& error)
{
    DeleteFileA(JoinPath(copy, "VornakMapLoader.log").c_str());
    const std::string settings = JoinPath(game, "VornakMapLoader_Config.ini");
    if (!FileExists(settings)) {
        // The plug-in's defaults; a settings file a last run wrote goes.
        DeleteFileA(JoinPath(copy, "VornakMapLoader_Config.ini").c_str());
        return true;
    }
    if (!WriteCopyFile(settings, JoinPath(copy, "VornakMapLoader_Config.ini"),
                       {"StreamingBudgetMs=0", "DontUnloadCulledModels=1"}, error)) {
        return false;
    }
    std::string text;
    ReadTextFile(settings, text);
    const std::string mapPath = FirstValue(text, "MapPath");
    // Without a map definition the checker names it; the views show what the plug-in shows.
    if (mapPath.empty() || !FileExists(JoinPath(game, mapPath))) return true;
    std::vector<std::string> lines;
    if (farDrawDistance > 0) {
        char line[64];
        std::snprintf(line, sizeof line, "DrawDistance=%.0f", std::ceil(farDrawDistance));
        lines.push_back(line);
    }
    return WriteCopyFile(JoinPath(game, mapPath), JoinPath(copy, mapPath), lines, error);
}

bool MakeGameCopy(const std::string& game, const std::string& copy, double farDrawDistance, std::string& error)
{
    RemoveTree(copy);
    return CopyTree(game, copy, true, error) && SetCopyKind(game, copy, farDrawDistance, error);
}

}  // namespace Preview
