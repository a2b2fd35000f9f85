#include "view_run.h"

#include <cstdio>
#include <sstream>
#include <thread>
#include <windows.h>

#include "file_tree.h"
#include "game_copy.h"

namespace Preview {

const char* const kViewListNames[3] = {"overview_views.txt", "views.txt", "collision_views.txt"};

bool ReadViewLists(const std::string& folder, ViewLists& lists, std::string& error)
{
    return ReadViews(JoinPath(folder, "overview_views.txt"), lists.overview, error) &&
           ReadViews(JoinPath(folder, "views.txt"), lists.groups, error) &&
           ReadViews(JoinPath(folder, "collision_views.txt"), lists.collisions, error);
}

bool StartHostRun(const PreviewTools& tools, const HostRun& run, const ChildOutput& output, Child& child,
                  std::string& error)
{
    if (!MakeFolders(run.out)) {
        error = "cannot make the folder " + run.out;
        return false;
    }
    std::vector<std::string> arguments = {"--game", run.copy, "--out", run.out, "--plugin", tools.plugin,
                                          "--views", run.list};
    if (run.showCollisions) arguments.push_back("--show-collisions");
    if (!child.Start(tools.host, arguments, output, error)) return false;
    return true;
}

bool GatherPictures(const std::vector<PlannedView>& views, const std::string& from, const std::string& out,
                    std::string& error)
{
    for (const PlannedView& view : views) {
        if (!CopyOneFile(JoinPath(from, view.name), JoinPath(out, view.name))) {
            error = "the " + view.name + " picture is missing from " + from;
            return false;
        }
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> ReadViewChecks(const std::string& folder)
{
    std::vector<std::pair<std::string, std::string>> checks;
    std::string text;
    if (!ReadTextFile(JoinPath(folder, "view_checks.txt"), text)) return checks;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string name;
        if (words >> name && name[0] != '#') checks.emplace_back(name, line);
    }
    return checks;
}

bool WriteViewChecks(const std::string& out, const std::vector<std::pair<std::string, std::string>>& lines)
{
    std::string text;
    for (const auto& line : lines) text += line.second + "\n";
    return WriteTextFile(JoinPath(out, "view_checks.txt"), text);
}

bool MakeContactSheet(const PreviewTools& tools, const std::string& out, const ChildOutput& output,
                      std::string& error)
{
    std::vector<std::string> arguments = {"--contact-sheet", out};
    for (const char* list : kViewListNames) arguments.push_back(JoinPath(out, list));
    const int status = RunChild(tools.host, arguments, output, error);
    if (status != 0 && error.empty()) error = "the contact sheet could not be made (exit " + std::to_string(status) + ")";
    return status == 0;
}

namespace {

std::string LastLine(const std::string& text)
{
    std::size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
}

int Failed(const std::string& message)
{
    std::fprintf(stderr, "vornak_preview: %s\n", message.c_str());
    return 1;
}

// One of the pass's three runs in the copy, made the run's kind first.
bool TakeInCopy(const PreviewTools& tools, const std::string& game, const HostRun& run, double farDrawDistance,
                std::string& error)
{
    if (!SetCopyKind(game, run.copy, farDrawDistance, error)) return false;
    Child child;
    if (!StartHostRun(tools, run, ChildOutput(), child, error)) return false;
    const int status = child.Wait();
    if (status != 0) {
        error = "the preview could not take the " + run.name + " views (vornak_host exit " + std::to_string(status) + ")";
        return false;
    }
    // The run's own log beside its pictures: what the copy loaded.
    CopyOneFile(JoinPath(run.copy, "VornakMapLoader.log"), JoinPath(run.out, "VornakMapLoader.log"));
    return true;
}

}  // namespace

int RunAllViews(const PreviewTools& tools, const std::string& game, const std::string& out,
                const std::string& scratch, const std::string& importCache)
{
    if (!MakeFolders(out)) return Failed("cannot make the output folder " + out);
    std::string error;
    std::vector<std::string> arguments = {"--no-progress"};
    if (!importCache.empty()) arguments.insert(arguments.end(), {"--import-cache", importCache});
    arguments.insert(arguments.end(), {"--views-out", out, game});
    const std::string report = JoinPath(out, "check.txt");
    ChildOutput toReport;
    toReport.file = report;
    std::printf("vornak_preview: checking %s\n", game.c_str());
    const int checked = RunChild(tools.checker, arguments, toReport, error);
    if (checked < 0) return Failed(error);
    ViewLists lists;
    std::string text;
    if (checked >= 3 || !FileExists(JoinPath(out, "views.txt"))) {
        if (ReadTextFile(report, text)) std::fputs(text.c_str(), stdout);
        return Failed("the map checker could not plan the views (exit " + std::to_string(checked) + ")");
    }
    if (!ReadViewLists(out, lists, error)) return Failed(error);

    // One copy of the game directory serves the three runs one after
    // another, its settings and map definition made for each.
    const std::string copy = JoinPath(scratch, "game");
    if (!MakeGameCopy(game, copy, 0, error)) return Failed(error);
    // The groups' views go straight to the output folder; the far runs' into
    // folders of their own, gathered after.
    DeleteFileA(JoinPath(out, "view_checks.txt").c_str());  // the last pass's verdicts
    if (!lists.groups.empty()) {
        std::printf("vornak_preview: taking %zu group views\n", lists.groups.size());
        const HostRun run{"group", copy, out, JoinPath(out, "views.txt"), false};
        if (!TakeInCopy(tools, game, run, 0, error)) return Failed(error);
    }
    std::vector<std::pair<std::string, std::string>> checks = ReadViewChecks(out);
    const struct {
        const std::vector<PlannedView>& views;
        HostRun run;
    } farRuns[] = {
        {lists.overview, {"overview", copy, JoinPath(out, "overview"), JoinPath(out, "overview_views.txt"), false}},
        {lists.collisions,
         {"collision", copy, JoinPath(out, "collisions"), JoinPath(out, "collision_views.txt"), true}},
    };
    for (const auto& distant : farRuns) {
        if (distant.views.empty()) continue;
        std::printf("vornak_preview: taking %zu %s views\n", distant.views.size(), distant.run.name.c_str());
        if (!TakeInCopy(tools, game, distant.run, FittedDrawDistance(distant.views), error)) return Failed(error);
        if (!GatherPictures(distant.views, distant.run.out, out, error)) return Failed(error);
        for (const auto& line : ReadViewChecks(distant.run.out)) checks.push_back(line);
    }
    // The copy goes while the sheet is made.
    std::thread removal([copy] { RemoveTree(copy); });
    struct Join {
        std::thread& thread;
        ~Join() { thread.join(); }
    } join{removal};
    if (!checks.empty() && !WriteViewChecks(out, checks)) return Failed("cannot write " + JoinPath(out, "view_checks.txt"));
    if (!MakeContactSheet(tools, out, ChildOutput(), error)) return Failed(error);
    ReadTextFile(report, text);
    std::printf("The map checker (exit %d): %s; the pictures beside its findings: %s\n", checked, LastLine(text).c_str(),
                JoinPath(out, "index.html").c_str());
    return 0;
}

}  // namespace Preview
