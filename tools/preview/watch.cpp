#include "watch.h"

#include <cstdio>
#include <map>
#include <thread>
#include <windows.h>

#include "change_scope.h"
#include "change_watch.h"
#include "check_report.h"
#include "file_tree.h"
#include "game_copy.h"
#include "preview_page.h"

namespace Preview {

namespace {

// Seconds since 1970, as the benchmarks' clocks read them.
double WallClock()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ULL) / 1e7;
}

struct Laps {
    std::vector<std::pair<std::string, double>> steps;
    void operator()(const char* name) { steps.emplace_back(name, WallClock()); }
};

std::string Joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

class Update {
public:
    Update(const PreviewTools& tools, const std::string& game, const std::string& out, const std::string& scratch,
           const std::string& cache, const std::set<std::string>& changed)
        : tools_(tools), game_(game), out_(out), scratch_(scratch), cache_(cache), changed_(changed)
    {
    }

    // The number of views taken again; 0 with the page naming why when none could be.
    int Run(Laps& laps)
    {
        RemoveTree(scratch_);
        MakeFolders(scratch_);
        const std::string plan = JoinPath(scratch_, "plan"), json = JoinPath(scratch_, "check.json");
        ChildOutput toJson;
        toJson.file = json;
        toJson.discardErrors = true;
        std::string error, text;
        const int status = RunChild(tools_.checker,
                                    {"--json", "--no-progress", "--import-cache", cache_, "--views-out", plan, game_},
                                    toJson, error);
        if (status < 0 || status >= 3 || !FileExists(JoinPath(plan, "views.txt"))) {
            return Unchanged(error.empty() ? "the map checker could not run (exit " + std::to_string(status) + ")" : error);
        }
        laps("check");
        CheckReport report;
        ViewLists planned;
        if (!ReadTextFile(json, text) || !ParseCheckReport(text, report, error) || !ReadViewLists(plan, planned, error)) {
            return Unchanged(error.empty() ? "cannot read the map checker's report" : error);
        }
        const ChangeScope scope = ScopeOfChange(report, changed_);
        // Something that would end the game ends the preview's game too (a
        // no-normals file's message box would wait for ever): nothing is
        // taken until it is mended.
        const std::vector<std::string> fatal = FatalFindings(report);
        if (!fatal.empty()) return Unchanged(Joined(fatal));

        ViewLists take;
        for (const PlannedView& view : planned.groups) {
            if (scope.every || scope.groups.count(view.group)) take.groups.push_back(view);
        }
        if (scope.Overview()) take.overview = planned.overview;
        if (scope.every || scope.collisions) take.collisions = planned.collisions;
        std::map<std::string, std::string> newChecks;
        const bool taken = TakeViews(take, newChecks, error);
        // The copies go while the page and the sheet are made.
        std::thread removal([this] {
            for (const char* name : {"near-game", "overview-game", "collision-game"}) RemoveTree(JoinPath(scratch_, name));
        });
        struct Join {
            std::thread& thread;
            ~Join() { thread.join(); }
        } join{removal};
        if (!taken) return Unchanged(error);
        laps("views");

        if (!UpdateLists(plan, scope, error)) return Unchanged(error);
        UpdateViewChecks(newChecks);
        // The page shows the new pictures at once; the sheet follows.
        if (!WritePageWithError(JoinPath(plan, "index.html"), JoinPath(out_, "index.html"), Joined(scope.errors))) {
            std::fprintf(stderr, "vornak_preview: cannot write %s\n", JoinPath(out_, "index.html").c_str());
        }
        laps("page");
        ChildOutput quiet;
        quiet.discard = true;
        if (!MakeContactSheet(tools_, out_, quiet, error)) std::fprintf(stderr, "vornak_preview: %s\n", error.c_str());
        laps("sheet");
        return static_cast<int>(take.groups.size() + take.overview.size() + take.collisions.size());
    }

private:
    // The output's page keeps its pictures and names why they were not updated.
    int Unchanged(const std::string& why)
    {
        std::fprintf(stderr, "vornak_preview: not updated: %s\n", why.c_str());
        const std::string page = JoinPath(out_, "index.html");
        WritePageWithError(page, page, why);
        return 0;
    }

    // The three runs, each in a copy of its own, side by side.
    bool TakeViews(const ViewLists& take, std::map<std::string, std::string>& checks, std::string& error)
    {
        const struct {
            const std::vector<PlannedView>& views;
            const char* name;
            bool distant;
            bool collisions;
        } runs[] = {{take.groups, "near", false, false},
                    {take.overview, "overview", true, false},
                    {take.collisions, "collision", true, true}};
        std::vector<Child> children(3);
        std::vector<HostRun> started(3);
        for (int i = 0; i < 3; ++i) {
            if (runs[i].views.empty()) continue;
            HostRun& run = started[i];
            run = {runs[i].name, JoinPath(scratch_, std::string(runs[i].name) + "-game"),
                   JoinPath(scratch_, runs[i].name), JoinPath(scratch_, std::string(runs[i].name) + "-take.txt"),
                   runs[i].collisions};
            if (!MakeGameCopy(game_, run.copy, runs[i].distant ? FittedDrawDistance(runs[i].views) : 0, error) ||
                !WriteTextFile(run.list, ViewLines(runs[i].views))) {
                if (error.empty()) error = "cannot write " + run.list;
                return false;
            }
            ChildOutput log;
            log.file = JoinPath(scratch_, std::string(runs[i].name) + "-host.txt");
            if (!StartHostRun(tools_, run, log, children[i], error)) return false;
        }
        bool ok = true;
        for (int i = 0; i < 3; ++i) {
            if (runs[i].views.empty()) continue;
            const int status = children[i].Wait();
            if (status != 0) {
                std::string log;
                ReadTextFile(JoinPath(scratch_, std::string(runs[i].name) + "-host.txt"), log);
                std::fputs(log.c_str(), stderr);
                error = "the preview could not take the " + started[i].name + " views (vornak_host exit " +
                        std::to_string(status) + ")";
                ok = false;
            }
        }
        if (!ok) return false;
        for (int i = 0; i < 3; ++i) {
            if (runs[i].views.empty()) continue;
            if (!GatherPictures(runs[i].views, started[i].out, out_, error)) return false;
            for (const auto& line : ReadViewChecks(started[i].out)) checks[line.first] = line.second;
        }
        return true;
    }

    // The output's lists from the new plan, but for the groups that keep
    // their last good views: those keep their lines of the last plan.
    bool UpdateLists(const std::string& plan, const ChangeScope& scope, std::string& error)
    {
        for (const char* name : kViewListNames) {
            const std::string from = JoinPath(plan, name), to = JoinPath(out_, name);
            if (scope.kept.empty() || std::string(name) != "views.txt") {
                if (!CopyOneFile(from, to)) return error = "cannot write " + to, false;
                continue;
            }
            std::vector<PlannedView> now, before, lines;
            if (!ReadViews(from, now, error) || !ReadViews(to, before, error)) return false;
            for (const PlannedView& view : now) {
                if (!scope.kept.count(view.group)) lines.push_back(view);
            }
            for (const PlannedView& view : before) {
                if (scope.kept.count(view.group)) lines.push_back(view);
            }
            if (!WriteTextFile(to, ViewLines(lines))) return error = "cannot write " + to, false;
        }
        return true;
    }

    // view_checks.txt: a line per view of the output's lists, the new run's
    // where the view was taken again, else the last one.
    void UpdateViewChecks(const std::map<std::string, std::string>& taken)
    {
        std::map<std::string, std::string> last;
        for (const auto& line : ReadViewChecks(out_)) last[line.first] = line.second;
        if (taken.empty() && last.empty()) return;  // a host that writes no verdicts
        std::vector<std::pair<std::string, std::string>> lines;
        for (const char* name : {"views.txt", "overview_views.txt", "collision_views.txt"}) {
            std::vector<PlannedView> views;
            std::string error;
            if (!ReadViews(JoinPath(out_, name), views, error)) continue;
            for (const PlannedView& view : views) {
                auto found = taken.find(view.name);
                if (found == taken.end()) found = last.find(view.name);
                if (found == last.end()) continue;
                lines.emplace_back(view.name, found->second);
            }
        }
        WriteViewChecks(out_, lines);
    }

    const PreviewTools& tools_;
    std::string game_, out_, scratch_, cache_;
    const std::set<std::string>& changed_;  // relative paths, lower case
};

}  // namespace

int RunWatch(const PreviewTools& tools, const std::string& game, const std::string& out, const std::string& scratch,
             int updates)
{
    // The checker's import results, kept while the watch runs.
    const std::string cache = JoinPath(scratch, "import_cache");
    MakeFolders(cache);
    ChangeWatch watch(game, 300);
    if (!watch.Ok()) {
        std::fprintf(stderr, "vornak_preview: cannot watch %s for changes\n", game.c_str());
        return 1;
    }
    // Taken before the first pass: a save during it is an update after it.
    TreeSnapshot state = SnapshotTree(game);
    if (RunAllViews(tools, game, out, JoinPath(scratch, "pass"), cache) != 0) return 1;
    for (int done = 0; updates < 0 || done < updates; ++done) {
        std::printf("watching %s (the page: %s)\n", game.c_str(), JoinPath(out, "index.html").c_str());
        std::fflush(stdout);
        std::set<std::string> changed;
        if (!watch.WaitForChange(state, changed)) {
            std::fprintf(stderr, "vornak_preview: the watch on %s failed\n", game.c_str());
            return 1;
        }
        const double start = WallClock();
        Laps laps;
        const int taken = Update(tools, game, out, JoinPath(scratch, "update"), cache, changed).Run(laps);
        std::string steps;
        double at = start, page = WallClock();
        for (const auto& [name, end] : laps.steps) {
            char step[64];
            std::snprintf(step, sizeof step, "%s%s %.1f s", steps.empty() ? "" : ", ", name.c_str(), end - at);
            steps += step;
            at = end;
            if (name == "page") page = end;
        }
        const double end = WallClock();
        std::printf("updated %d views in %.1f s (%s) after %zu changed files; page at %.3f; done at %.3f\n", taken,
                    end - start, steps.c_str(), changed.size(), page, end);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace Preview
