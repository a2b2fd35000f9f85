// Loading a large model: Assimp's reading of the file against the plug-in's
// whole import (reading, mesh building, buffer baking, release), and the
// vertex baking of RebuildMeshBuffers against a plain copy of as many
// 36-byte records, all measured in one run. Buffers are made by a
// standalone recording device, so they live in system memory. The baking is
// measured twice: with the device recycling the storage of released buffers,
// as a driver recycles discarded ones, against a copy into one target; and
// with fresh zero-filled buffers against a copy into a fresh zero-filled
// target. Either way both sides pay the same for their memory.
//
//   renderer_bench.exe [triangles] [vertices] [tile]   (defaults 1000000 1000000 50)
//
// `tile` is the side, in quads, of the square tiles of the OBJ model.
#include <windows.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asset_writer.h"
#include "config/options.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "renderer/mesh.h"
#include "renderer/model.h"
#include "renderer/shading.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

// The flags the plug-in imports with (Assimp's realtime-quality preset).
constexpr unsigned kImportFlags = 0x79ACB;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double TimeAssimpRead(const std::string& path, double& freeSeconds, unsigned& faces)
{
    Assimp::Importer importer;
    auto start = Clock::now();
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    double seconds = SecondsSince(start);
    if (!scene) {
        std::fprintf(stderr, "Assimp could not read %s: %s\n", path.c_str(), importer.GetErrorString());
        std::exit(1);
    }
    faces = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) faces += scene->mMeshes[i]->mNumFaces;
    start = Clock::now();
    importer.FreeScene();
    freeSeconds = SecondsSince(start);
    return seconds;
}

double TimePluginImport(const std::string& path, unsigned& faces, std::size_t& meshes)
{
    auto start = Clock::now();
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel({path});
    faces = 0;
    meshes = model->meshes.size();
    for (const TarnRenderer::CMesh* mesh : model->meshes) {
        if (!mesh->buffers || !mesh->buffers->vertexBuffer || !mesh->buffers->indexBuffer) {
            std::fprintf(stderr, "a mesh of %s has no buffers\n", path.c_str());
            std::exit(1);
        }
        faces += mesh->faceCount;
    }
    TarnRenderer::ReleaseReference(model);
    return SecondsSince(start);
}

// Assimp's reading of `path` against the plug-in's import of it, `runs`
// times each, alternating; prints the medians and the overhead.
bool MeasureImport(const std::string& path, int runs)
{
    std::printf("\n%s\n", path.c_str());
    std::vector<double> reads, frees, imports;
    unsigned assimpFaces = 0, pluginFaces = 0;
    std::size_t meshes = 0;
    for (int run = 0; run < runs; ++run) {
        double freeSeconds = 0;
        reads.push_back(TimeAssimpRead(path, freeSeconds, assimpFaces));
        frees.push_back(freeSeconds);
        imports.push_back(TimePluginImport(path, pluginFaces, meshes));
        std::printf("  run %d: ReadFile %.3f s (+ FreeScene %.3f s), plug-in import %.3f s\n", run + 1, reads.back(),
                    frees.back(), imports.back());
        std::fflush(stdout);
    }
    if (assimpFaces != pluginFaces) {
        std::fprintf(stderr, "the plug-in kept %u faces of Assimp's %u\n", pluginFaces, assimpFaces);
        return false;
    }
    const double read = Median(reads), freeScene = Median(frees), import = Median(imports);
    std::printf("  Assimp ReadFile(0x79ACB) alone (median of %d):    %8.3f s  (%u faces)\n", runs, read, assimpFaces);
    std::printf("  Assimp FreeScene after it (median of %d):         %8.3f s\n", runs, freeScene);
    std::printf("  AcquireModel + ReleaseReference (median of %d):   %8.3f s  (%zu mesh(es) with buffers)\n", runs,
                import, meshes);
    std::printf("  overhead of the plug-in import over ReadFile:     %+7.1f %%  (goal: at most 15 %%)\n",
                100.0 * (import - read) / read);
    std::printf("  overhead over ReadFile + FreeScene:               %+7.1f %%\n",
                100.0 * (import - read - freeScene) / (read + freeScene));
    std::fflush(stdout);
    return true;
}

// CMesh has no default constructor: one built from an empty sub-mesh, to be
// filled by hand.
std::unique_ptr<TarnRenderer::CMesh> MakeEmptyMesh()
{
    static aiMesh empty;
    static aiMesh* meshes[] = {&empty};
    static aiScene scene;
    scene.mNumMeshes = 1;
    scene.mMeshes = meshes;
    auto mesh =
        std::make_unique<TarnRenderer::CMesh>(&scene, 0, TarnMath::CMatrix::Identity(), "", "t.png", "m.obj", false);
    scene.mMeshes = nullptr;  // the scene does not own these
    scene.mNumMeshes = 0;
    return mesh;
}

// A square grid of about `vertices` vertices (the count exactly), two
// triangles per grid cell, with varied normals, coordinates and colours.
std::unique_ptr<TarnRenderer::CMesh> MakeLargeMesh(std::uint32_t vertices)
{
    auto mesh = MakeEmptyMesh();
    const std::uint32_t side = std::max<std::uint32_t>(2, std::uint32_t(std::sqrt(double(vertices))));
    mesh->vertexCount = vertices;
    mesh->positions.resize(3 * std::size_t(vertices));
    mesh->normals.resize(3 * std::size_t(vertices));
    mesh->texCoords.resize(2 * std::size_t(vertices));
    mesh->colors.resize(3 * std::size_t(vertices));
    for (std::uint32_t i = 0; i < vertices; ++i) {
        const float x = float(i % side), y = float(i / side);
        mesh->positions[3 * i] = x;
        mesh->positions[3 * i + 1] = y;
        mesh->positions[3 * i + 2] = std::sin(0.03f * x) * std::cos(0.05f * y);
        float nx = 0.3f * std::sin(0.11f * x), ny = 0.3f * std::cos(0.07f * y);
        float length = std::sqrt(nx * nx + ny * ny + 1.0f);
        mesh->normals[3 * i] = nx / length;
        mesh->normals[3 * i + 1] = ny / length;
        mesh->normals[3 * i + 2] = 1.0f / length;
        mesh->texCoords[2 * i] = x / float(side);
        mesh->texCoords[2 * i + 1] = y / float(side);
        mesh->colors[3 * i] = std::uint8_t(i * 7);
        mesh->colors[3 * i + 1] = std::uint8_t(i * 13);
        mesh->colors[3 * i + 2] = std::uint8_t(255 - i % 256);
    }
    for (std::uint32_t row = 0; row + 1 < vertices / side; ++row) {
        for (std::uint32_t column = 0; column + 1 < side; ++column) {
            std::uint32_t a = row * side + column, b = a + 1, c = a + side, d = c + 1;
            mesh->indices.insert(mesh->indices.end(), {a, c, b, b, c, d});
        }
    }
    mesh->indexCount = std::uint32_t(mesh->indices.size());
    mesh->faceCount = mesh->indexCount / 3;
    return mesh;
}

struct RebuildFigures {
    double rebuild;  // RebuildMeshBuffers, seconds
    double copy;     // memcpy of the vertex records, seconds
};

// With `fresh`, every rebuild gets new buffers from the device (which
// zero-fills them), and every copy a new zero-filled target to match; else
// both write into memory that was written before.
RebuildFigures MeasureRebuild(Host::RecordingDevice& device, TarnRenderer::CMesh& mesh, bool shading, bool fresh,
                              const std::vector<unsigned char>& source, int runs)
{
    device.SetBufferStorageReuse(!fresh);
    mesh.shading.ShadingEnabled = shading ? 1 : 0;
    TarnRenderer::MeshBuffers buffers{nullptr, nullptr, mesh.vertexCount, mesh.faceCount, &mesh};
    std::vector<double> rebuilds, copies;
    std::vector<unsigned char> target(source.size());
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        if (fresh) std::vector<unsigned char>(source.size()).swap(target);
        std::memcpy(target.data(), source.data(), source.size());
        copies.push_back(SecondsSince(start));

        start = Clock::now();
        RebuildMeshBuffers(&buffers);
        rebuilds.push_back(SecondsSince(start));
        if (!buffers.vertexBuffer || !buffers.indexBuffer) {
            std::fprintf(stderr, "RebuildMeshBuffers made no buffers\n");
            std::exit(1);
        }
    }
    // Something of both results is used, so neither copy can be dropped.
    const auto* bytes = Host::RecordedBufferBytes(buffers.vertexBuffer);
    if (!bytes || bytes->size() != target.size() || target[target.size() / 2] != source[source.size() / 2]) {
        std::fprintf(stderr, "unexpected buffer contents\n");
        std::exit(1);
    }
    buffers.vertexBuffer->Release();
    buffers.indexBuffer->Release();
    return {Median(rebuilds), Median(copies)};
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned triangles = argc > 1 ? unsigned(std::atoi(argv[1])) : 1000000u;
    const std::uint32_t vertices = argc > 2 ? std::uint32_t(std::atoi(argv[2])) : 1000000u;
    const unsigned tileSide = argc > 3 ? unsigned(std::atoi(argv[3])) : 50u;
    const int importRuns = 5;
    const int rebuildRuns = 5;

    Host::RecordingDevice device;
    Host::HostEnvironment::Instance().SetDevice(&device);

    // 1. Import of large model files: the same terrain of `triangles`
    // triangles once as a single sub-mesh (ASCII PLY) and once as an OBJ of
    // square tiles that share one texture, so that the plug-in merges them
    // into one mesh. (A single-object OBJ of this size is no use here: the
    // OBJ reader gives every face corner its own vertex, and joining 3
    // million of them runs a 32-bit process out of address space.)
    TestSupport::TempDirectory dir;
    const unsigned rows = std::max(1u, unsigned(std::sqrt(double(triangles) / 4.0)));
    const unsigned columns = std::max(1u, triangles / (2 * rows));
    const unsigned tile = std::max(1u, std::min(tileSide, rows));
    const std::string plyPath = dir.File("terrain.ply");
    const std::string objPath = dir.File("tiles.obj");
    {
        auto start = Clock::now();
        TestSupport::WritePly(plyPath, TestSupport::MakeTerrain("terrain", 0, 0, columns, rows, columns, rows));
        std::vector<TestSupport::MeshPart> tiles;
        for (unsigned z = 0; z < rows; z += tile) {
            for (unsigned x = 0; x < columns; x += tile) {
                tiles.push_back(TestSupport::MakeTerrain("tile" + std::to_string(tiles.size()), x, z, std::min(tile, columns - x),
                                            std::min(tile, rows - z), columns, rows));
            }
        }
        TestSupport::WriteObj(objPath, tiles);
        std::printf("terrain of %u x %u quads, %u triangles: %s (one sub-mesh), %s (%zu tiles); written in %.1f s\n",
                    columns, rows, 2 * columns * rows, plyPath.c_str(), objPath.c_str(), tiles.size(),
                    SecondsSince(start));
        std::fflush(stdout);
    }
    bool importsKnown = true;
    for (const std::string& path : {plyPath, objPath}) importsKnown &= MeasureImport(path, importRuns);

    // 2. Buffer baking of one large mesh built by hand.
    Config::UseHostShaders = false;
    std::unique_ptr<TarnRenderer::CMesh> mesh = MakeLargeMesh(vertices);
    std::printf("\nmesh: %u vertices, %u triangles; vertex records %.1f MB, indices %.1f MB\n", mesh->vertexCount,
                mesh->faceCount, mesh->vertexCount * 36.0 / 1e6, mesh->indexCount * 4.0 / 1e6);
    std::vector<unsigned char> source(std::size_t(mesh->vertexCount) * sizeof(MapVertex));
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + 7);

    for (bool fresh : {false, true}) {
        std::printf(fresh ? "\nfresh buffers for every rebuild, a fresh target for every copy:\n"
                          : "buffers recycled as a driver does with discarded ones, one target for every copy:\n");
        for (bool shading : {false, true}) {
            RebuildFigures figures = MeasureRebuild(device, *mesh, shading, fresh, source, rebuildRuns);
            const double rebuildRate = mesh->vertexCount / figures.rebuild;
            const double copyRate = mesh->vertexCount / figures.copy;
            std::printf("shading %-3s  RebuildMeshBuffers (median of %d):  %8.3f ms  %7.1f M vertices/s\n",
                        shading ? "on" : "off", rebuildRuns, figures.rebuild * 1e3, rebuildRate / 1e6);
            std::printf("             memcpy of 36-byte records:         %8.3f ms  %7.1f M records/s\n",
                        figures.copy * 1e3, copyRate / 1e6);
            std::printf("             ratio rebuild / copy speed:        %8.3f      (goal: at least 0.25)\n",
                        rebuildRate / copyRate);
            std::fflush(stdout);
        }
    }

    mesh.reset();
    Host::HostEnvironment::Instance().SetDevice(nullptr);
    return importsKnown ? 0 : 1;
}
