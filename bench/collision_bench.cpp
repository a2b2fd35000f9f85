// The collision code's costs, each beside a baseline timed in the same run:
//   1. building the Bullet mesh of a ~200,000-triangle grid with the
//      project's hash welding, against Bullet's own duplicate search
//      (btTriangleMesh::addTriangle(..., true), timed once: it takes
//      minutes), with both arrays checked identical;
//   2. CastCollisionRay against a plain btCollisionWorld::rayTest with a
//      ClosestRayResultCallback, same world (~2,000,000 triangles of
//      terrain in 16 bodies), same rays straight down;
//   3. GatherNearbyBarriers (records found through its grid) against a
//      scan of every record, with 1,024 records and with 8,192 (the same
//      1,024 near ones and 7,168 far away), 16 segments each.
// The machine is shared and noisy: every figure is measured in rounds,
// and the lowest and the middle of the rounds' medians are printed.
//
//   collision_bench.exe [rounds [--no-bullet-weld]]   (default 5 rounds)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "collision/barriers.h"
#include "collision/collision_query.h"
#include "collision/collision_world.h"
#include "config/options.h"
#include "game/host_environment.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "reference_reads.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// "lowest L, middle M" of the rounds' medians, scaled.
void PrintRounds(const char* what, const std::vector<double>& medians, double scale, const char* unit)
{
    std::vector<double> sorted = medians;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  %-44s rounds:", what);
    for (double m : medians) std::printf(" %.3f", m * scale);
    std::printf("  | lowest %.3f, middle %.3f %s\n", sorted.front() * scale, sorted[sorted.size() / 2] * scale, unit);
}

// A terrain grid of quads x quads cells, `spacing` apart, starting at
// (x0, y0), two triangles per cell, sharing the corners.
void TerrainGrid(int quads, float spacing, float x0, float y0, std::vector<float>& positions,
                 std::vector<std::uint32_t>& indices)
{
    positions.clear();
    indices.clear();
    const int side = quads + 1;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const float x = x0 + i * spacing, y = y0 + j * spacing;
            positions.insert(positions.end(), {x, y, 3.0f * std::sin(x * 0.05f) * std::cos(y * 0.07f)});
        }
    }
    for (int j = 0; j < quads; ++j) {
        for (int i = 0; i < quads; ++i) {
            const std::uint32_t a = j * side + i, b = a + 1, c = a + side, d = c + 1;
            indices.insert(indices.end(), {a, b, d, a, d, c});
        }
    }
}

bool SameArrays(btTriangleMesh& a, btTriangleMesh& b)
{
    const btIndexedMesh& x = a.getIndexedMeshArray()[0];
    const btIndexedMesh& y = b.getIndexedMeshArray()[0];
    return x.m_numVertices == y.m_numVertices && x.m_numTriangles == y.m_numTriangles &&
           x.m_vertexStride == y.m_vertexStride && x.m_triangleIndexStride == y.m_triangleIndexStride &&
           std::memcmp(x.m_vertexBase, y.m_vertexBase, std::size_t(x.m_numVertices) * x.m_vertexStride) == 0 &&
           std::memcmp(x.m_triangleIndexBase, y.m_triangleIndexBase,
                       std::size_t(x.m_numTriangles) * x.m_triangleIndexStride) == 0;
}

void MeshBuild(int rounds, bool withBullet)
{
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    TerrainGrid(316, 1.0f, 0, 0, positions, indices);
    const auto faces = static_cast<std::uint32_t>(indices.size() / 3);
    std::printf("1. Bullet mesh of %u triangles, %zu vertices\n", faces, positions.size() / 3);

    std::vector<double> hashMedians;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> times;
        for (int build = 0; build < 5; ++build) {
            btTriangleMesh mesh(true, true);
            const auto start = Clock::now();
            BulletCol::AddWeldedTriangles(mesh, positions.data(), indices.data(), faces);
            times.push_back(Seconds(start));
        }
        hashMedians.push_back(Median(times));
    }
    PrintRounds("hash welding (median of 5 builds)", hashMedians, 1e3, "ms");
    if (!withBullet) return;

    btTriangleMesh hashed(true, true);
    BulletCol::AddWeldedTriangles(hashed, positions.data(), indices.data(), faces);
    btTriangleMesh bullet(true, true);
    const auto start = Clock::now();
    for (std::uint32_t f = 0; f < faces; ++f) {
        const float* p[3];
        for (int k = 0; k < 3; ++k) p[k] = positions.data() + 3 * std::size_t(indices[3 * f + k]);
        bullet.addTriangle(btVector3(p[0][0], p[0][1], p[0][2]), btVector3(p[1][0], p[1][1], p[1][2]),
                           btVector3(p[2][0], p[2][1], p[2][2]), true);
    }
    const double bulletSeconds = Seconds(start);
    std::printf("  Bullet's duplicate search (once):            %.2f s\n", bulletSeconds);
    std::printf("  arrays identical:                            %s\n", SameArrays(hashed, bullet) ? "yes" : "NO");
    std::vector<double> ratios;
    for (double h : hashMedians) ratios.push_back(bulletSeconds / h);
    std::sort(ratios.begin(), ratios.end());
    std::printf("  Bullet / hash: lowest %.0f x, middle %.0f x, highest %.0f x   (goal: at least 100 x)\n",
                ratios.front(), ratios[ratios.size() / 2], ratios.back());
}

void Rays(int rounds)
{
    // 16 bodies of 250 x 250 cells, 2 triangles each: 2,000,000 triangles
    // over 1,000 x 1,000 units; map space = model space with y mirrored.
    BulletCol::CollisionFilesLoaded = true;  // no collision files: the bodies below are the world
    std::vector<TarnRenderer::CMesh*> meshes;
    const auto buildStart = Clock::now();
    for (int ty = 0; ty < 4; ++ty) {
        for (int tx = 0; tx < 4; ++tx) {
            TarnRenderer::CMesh* mesh = TestSupport::MakeMemoryMesh(0, 0, 0, 1);
            TerrainGrid(250, 1.0f, tx * 250.0f, ty * 250.0f, mesh->positions, mesh->indices);
            mesh->faceCount = static_cast<std::uint32_t>(mesh->indices.size() / 3);
            mesh->indexCount = static_cast<std::uint32_t>(mesh->indices.size());
            mesh->vertexCount = static_cast<std::uint32_t>(mesh->positions.size() / 3);
            mesh->collisionData = new BulletCol::MeshCollisionData;
            mesh->collisionDataRelease = &BulletCol::ReleaseMeshCollisionData;
            BulletCol::CreateMeshBody(mesh, 0);
            meshes.push_back(mesh);
        }
    }
    btDiscreteDynamicsWorld* world = BulletCol::CollisionWorld.world;
    world->updateAabbs();
    int triangles = 0;
    for (auto* mesh : meshes) triangles += static_cast<int>(mesh->faceCount);
    std::printf("\n2. Rays straight down on %d triangles in %d bodies (built in %.1f s)\n", triangles,
                world->getNumCollisionObjects(), Seconds(buildStart));

    std::mt19937 random(7);
    std::uniform_real_distribution<float> across(1.0f, 999.0f);
    constexpr int kRays = 20000;
    std::vector<float> xs(kRays), ys(kRays);
    for (int r = 0; r < kRays; ++r) xs[r] = across(random), ys[r] = -across(random);  // map y

    int agreeing = 0, hits = 0;
    for (int r = 0; r < kRays; ++r) {
        BulletCol::CollisionHit hit{};
        const bool got = BulletCol::CastCollisionRay(hit, xs[r], ys[r], 50, xs[r], ys[r], -50);
        btVector3 from(xs[r], -ys[r], 50), to(xs[r], -ys[r], -50);
        btCollisionWorld::ClosestRayResultCallback raw(from, to);
        world->rayTest(from, to, raw);
        hits += got;
        agreeing += got == raw.hasHit() && (!got || std::fabs(hit.point[2] - raw.m_hitPointWorld.z()) < 1e-4);
    }
    std::printf("  %d rays: %d hits, %d agree with the plain rayTest\n", kRays, hits, agreeing);

    std::vector<double> castMedians, rawMedians, ratios;
    double sink = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> cast, raw;
        for (int batch = 0; batch < 5; ++batch) {
            auto start = Clock::now();
            for (int r = 0; r < kRays; ++r) {
                BulletCol::CollisionHit hit{};
                if (BulletCol::CastCollisionRay(hit, xs[r], ys[r], 50, xs[r], ys[r], -50)) sink += hit.point[2];
            }
            cast.push_back(Seconds(start) / kRays);
            start = Clock::now();
            for (int r = 0; r < kRays; ++r) {
                btVector3 from(xs[r], -ys[r], 50), to(xs[r], -ys[r], -50);
                btCollisionWorld::ClosestRayResultCallback callback(from, to);
                world->rayTest(from, to, callback);
                if (callback.hasHit()) sink += callback.m_hitPointWorld.z();
            }
            raw.push_back(Seconds(start) / kRays);
        }
        castMedians.push_back(Median(cast));
        rawMedians.push_back(Median(raw));
        ratios.push_back(castMedians.back() / rawMedians.back());
    }
    PrintRounds("CastCollisionRay (median of 5 x 20,000)", castMedians, 1e6, "us per ray");
    PrintRounds("plain rayTest (median of 5 x 20,000)", rawMedians, 1e6, "us per ray");
    PrintRounds("ratio CastCollisionRay / plain", ratios, 1.0, "x   (goal: at most 1.2 x)");
    if (sink == 12345.678) std::printf(" ");
}

void AddBarrierRecords(int count, float x0, std::mt19937& random)
{
    std::uniform_real_distribution<float> jitter(-8.0f, 8.0f);
    for (int r = 0; r < count; ++r) {
        BulletCol::CollisionMeshRecord record;
        // On a 32-wide grid 20 apart, model space; map = (x, -y, z).
        record.center[0] = x0 + 20.0f * (r % 32);
        record.center[1] = 20.0f * (r / 32);
        record.center[2] = 0;
        record.radius = 12;
        record.mapMatrix = MapTransform;
        record.shape = nullptr;
        const float mapX = record.center[0], mapY = -record.center[1];
        for (int s = 0; s < 16; ++s) {
            const float bx = mapX + jitter(random), by = mapY + jitter(random);
            const float tx = bx + 0.5f * jitter(random), ty = by + 0.5f * jitter(random);
            const double length = std::max(0.1, std::hypot(double(bx) - tx, double(by) - ty));
            record.barriers.push_back({{by, 0, bx}, 0x200, {ty, 4, tx}, float(1.0 / length), {0, 0}});
        }
        BulletCol::CollisionMeshRecords.push_back(std::move(record));
    }
}

void Gathering(int rounds)
{
    std::printf("\n3. Barrier segments near a position, 16 segments per record\n");
    std::mt19937 random(11);
    std::uniform_real_distribution<float> mapX(0.0f, 620.0f), mapY(-620.0f, 0.0f), height(-3.0f, 7.0f);
    constexpr int kCalls = 4000;
    std::vector<float> queries;
    for (int c = 0; c < kCalls; ++c) queries.insert(queries.end(), {mapY(random), height(random), mapX(random)});

    std::vector<BulletCol::BarrierSegment> scanned;
    scanned.reserve(4096);
    // Per call seconds, median of 5 batches.
    auto timeCalls = [&](const std::function<void(const float*)>& call) {
        std::vector<double> batches;
        for (int batch = 0; batch < 5; ++batch) {
            const auto start = Clock::now();
            for (int c = 0; c < kCalls; ++c) call(&queries[3 * c]);
            batches.push_back(Seconds(start) / kCalls);
        }
        return Median(batches);
    };
    auto grid = [](const float* p) { BulletCol::GatherNearbyBarriers(p); };
    auto scan = [&](const float* p) { TestSupport::ScanNearbyBarriers(p, scanned); };

    // The two record sets, swapped in turn into CollisionMeshRecords so that
    // each round times both under the same machine load (the grid is rebuilt
    // at the first call after a swap, outside the timing).
    std::vector<BulletCol::CollisionMeshRecord> nearOnly, withFar;
    BulletCol::CollisionMeshRecords.clear();
    AddBarrierRecords(1024, 0, random);  // map x 0..620, y -620..0
    nearOnly = BulletCol::CollisionMeshRecords;
    AddBarrierRecords(7168, 100000, random);  // far away: map x from 100,000 on
    withFar.swap(BulletCol::CollisionMeshRecords);
    auto use = [&](std::vector<BulletCol::CollisionMeshRecord>& records) {
        BulletCol::CollisionMeshRecords.swap(records);
        BulletCol::GatherNearbyBarriers(&queries[0]);
    };
    auto putBack = [&](std::vector<BulletCol::CollisionMeshRecord>& records) {
        BulletCol::CollisionMeshRecords.swap(records);
    };
    // Same answers as the scan, and how many segments a call finds.
    std::size_t found = 0, mismatches = 0;
    auto compare = [&]() {
        for (int c = 0; c < kCalls; ++c) {
            BulletCol::GatherNearbyBarriers(&queries[3 * c]);
            TestSupport::ScanNearbyBarriers(&queries[3 * c], scanned);
            found += scanned.size();
            mismatches += scanned.size() != BulletCol::NearbyBarriers.size() ||
                          std::memcmp(scanned.data(), BulletCol::NearbyBarriers.data(),
                                      scanned.size() * sizeof scanned[0]) != 0;
        }
    };
    use(nearOnly);
    compare();
    putBack(nearOnly);
    use(withFar);
    compare();
    putBack(withFar);
    std::vector<double> grid1k, scan1k, grid8k, scan8k;
    for (int round = 0; round < rounds; ++round) {
        use(nearOnly);
        grid1k.push_back(timeCalls(grid));
        scan1k.push_back(timeCalls(scan));
        putBack(nearOnly);
        use(withFar);
        grid8k.push_back(timeCalls(grid));
        scan8k.push_back(timeCalls(scan));
        putBack(withFar);
    }
    BulletCol::CollisionMeshRecords.clear();
    std::printf("  %d calls per batch, on average %.1f segments found (each handed over twice), %zu calls differing from the scan\n", kCalls,
                double(found) / (4 * kCalls), mismatches);
    PrintRounds("grid, 1,024 records", grid1k, 1e6, "us per call");
    PrintRounds("scan, 1,024 records", scan1k, 1e6, "us per call");
    PrintRounds("grid, 8,192 records (7,168 far)", grid8k, 1e6, "us per call");
    PrintRounds("scan, 8,192 records (7,168 far)", scan8k, 1e6, "us per call");
    std::vector<double> speedup, flat;
    for (int r = 0; r < rounds; ++r) {
        speedup.push_back(scan8k[r] / grid8k[r]);
        flat.push_back(grid8k[r] / grid1k[r]);
    }
    PrintRounds("ratio scan / grid at 8,192", speedup, 1.0, "x");
    PrintRounds("ratio grid 8,192 / grid 1,024", flat, 1.0, "x   (flat: about 1)");
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const bool withBullet = !(argc > 2 && std::string(argv[2]) == "--no-bullet-weld");

    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetGameFlowState(4);
    host.SetAttributeDatabasePresent(true);
    Config::Options = Config::OptionsRecord{};
    SetMapTransform();

    Gathering(rounds);
    Rays(rounds);
    MeshBuild(rounds, withBullet);
    return 0;
}
