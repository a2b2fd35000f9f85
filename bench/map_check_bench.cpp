// The map checker's cost on a map of 2,000 declared model files (500
// groups: main model, two members and a LOD, each file its own 800-triangle
// OBJ, four textures), against importing the same 2,000 files once, one
// after the other, with the plug-in's own import in this one process. The
// checker runs as a program of its own (vornak_check_map.exe beside this
// one), its imports in worker processes. Also the cost of starting one
// worker process, to show what a process per file would cost.
// The machine is shared and noisy: each figure is measured in rounds, and
// the lowest and the middle of the rounds are printed with their ratio.
//
//   map_check_bench.exe [rounds]   (default 3)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "asset_writer.h"
#include "renderer/model.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kGroups = 500;
constexpr int kGridCells = 20;  // 20 x 20 quads: 800 triangles

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TestSupport::MeshPart Grid(const std::string& name, float x0, const std::string& texture)
{
    TestSupport::MeshPart part{name, texture, {}, {}};
    for (int row = 0; row <= kGridCells; ++row) {
        for (int column = 0; column <= kGridCells; ++column) {
            TestSupport::Vertex vertex;
            vertex.x = x0 + column;
            vertex.y = 0.1f * float((row * 7 + column * 3) % 5);
            vertex.z = float(row);
            vertex.nx = 0, vertex.ny = 1, vertex.nz = 0;
            vertex.u = column / float(kGridCells);
            vertex.v = row / float(kGridCells);
            part.vertices.push_back(vertex);
        }
    }
    const unsigned stride = kGridCells + 1;
    for (unsigned row = 0; row < kGridCells; ++row) {
        for (unsigned column = 0; column < kGridCells; ++column) {
            unsigned a = row * stride + column;
            part.triangles.push_back({a, a + stride, a + 1});
            part.triangles.push_back({a + 1, a + stride, a + stride + 1});
        }
    }
    return part;
}

// The game directory and the declared files, relative to it.
std::vector<std::string> WriteLargeGame(const std::string& game)
{
    const std::string assets = game + "\\maps\\large";
    CreateDirectoryA((game + "\\maps").c_str(), nullptr);
    CreateDirectoryA(assets.c_str(), nullptr);
    const char* textures[] = {"a.bmp", "b.bmp", "c.bmp", "d.bmp"};
    for (const char* texture : textures) TestSupport::WriteBmp(assets + "\\" + texture, 64, 64, 90, 90, 90, true);

    std::vector<std::string> declared;
    std::ostringstream map;
    map << "[Options]\r\nDrawDistance=800\r\n";
    for (int group = 0; group < kGroups; ++group) {
        const std::string id = std::to_string(group);
        const char* suffixes[] = {"", "_m0", "_m1", "_lod"};
        for (int part = 0; part < 4; ++part) {
            std::string name = "g" + id + suffixes[part] + ".obj";
            TestSupport::WriteObj(assets + "\\" + name, {Grid(name, float(group * 30 + part), textures[part])});
            declared.push_back("maps\\large\\" + name);
        }
        const std::string prefix = "MapModel" + id;
        map << prefix << "Path=" << declared[declared.size() - 4] << "\r\n"
            << prefix << "Path0=" << declared[declared.size() - 3] << "\r\n"
            << prefix << "Path1=" << declared[declared.size() - 2] << "\r\n"
            << prefix << "LODPath=" << declared[declared.size() - 1] << "\r\n";
    }
    TestSupport::WriteFile(game + "\\maps\\large.ini", map.str());
    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini", "[Options]\r\nMapPath=maps\\large.ini\r\n");
    return declared;
}

// Every file imported once, in this process, as the plug-in imports it.
double ImportOnce(const std::string& game, const std::vector<std::string>& files)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(game.c_str());
    const auto start = Clock::now();
    for (const std::string& file : files) {
        TarnRenderer::ModelLoadParams params;
        params.path = file;
        params.skipRenderData = true;
        TarnRenderer::CModel* model = TarnRenderer::AcquireModel(params, true);
        if (model->meshes.empty()) {
            std::fprintf(stderr, "map_check_bench: %s did not import\n", file.c_str());
            std::exit(1);
        }
        TarnRenderer::ReleaseReference(model);
    }
    const double seconds = Seconds(start);
    SetCurrentDirectoryA(previous);
    return seconds;
}

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

// Runs the checker program with `arguments`; its wall time and exit code.
double RunChecker(const std::string& arguments, DWORD& exitCode)
{
    const std::string command = "\"" + ProgramDirectory() + "\\vornak_check_map.exe\" " + arguments;
    const auto start = Clock::now();
    exitCode = TestSupport::RunProgram(command, "NUL", "NUL", INFINITE);
    const double seconds = Seconds(start);
    if (exitCode == 0xFFFFFFFF) {
        std::fprintf(stderr, "map_check_bench: cannot start %s\n", command.c_str());
        std::exit(1);
    }
    return seconds;
}

void PrintRounds(const char* what, std::vector<double> values, double scale, const char* unit)
{
    std::printf("  %-46s rounds:", what);
    for (double value : values) std::printf(" %.3f", value * scale);
    std::sort(values.begin(), values.end());
    std::printf("  | lowest %.3f, middle %.3f %s\n", values.front() * scale, values[values.size() / 2] * scale, unit);
}

double Middle(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    TestSupport::TempDirectory game;
    const std::vector<std::string> files = WriteLargeGame(game.Path());
    std::printf("map_check_bench: %zu declared model files of %d triangles, %u processors, %d rounds\n",
                files.size(), 2 * kGridCells * kGridCells, std::max(1u, std::thread::hardware_concurrency()),
                rounds);

    std::vector<double> baseline, checker, start;
    for (int round = 0; round < rounds; ++round) {
        baseline.push_back(ImportOnce(game.Path(), files));
        DWORD exitCode = 0;
        checker.push_back(RunChecker("--no-progress \"" + game.Path() + "\"", exitCode));
        if (exitCode != 0) {
            std::fprintf(stderr, "map_check_bench: the checker found something in the large map (exit %lu)\n",
                         static_cast<unsigned long>(exitCode));
            return 1;
        }
        // One process start of the same program, doing nothing.
        std::vector<double> starts;
        for (int i = 0; i < 10; ++i) starts.push_back(RunChecker("--help", exitCode));
        start.push_back(Middle(starts));
    }
    PrintRounds("importing every file once, one process", baseline, 1.0, "s");
    PrintRounds("vornak_check_map on the same map", checker, 1.0, "s");
    PrintRounds("starting the checker's program once", start, 1000.0, "ms");
    std::vector<double> sortedBaseline = baseline, sortedChecker = checker;
    std::sort(sortedBaseline.begin(), sortedBaseline.end());
    std::sort(sortedChecker.begin(), sortedChecker.end());
    std::printf("  checker / import once: lowest %.2f, middle %.2f (target at most 1.5)\n",
                sortedChecker.front() / sortedBaseline.front(), Middle(checker) / Middle(baseline));
    std::printf("  a process per file would add about %.1f s of process starts alone\n",
                Middle(start) * double(files.size()));
    return 0;
}
