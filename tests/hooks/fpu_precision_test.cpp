// The plug-in on the thread whose FPU Direct3D 9 has set up, as on a
// player's machine: the game creates its device without
// D3DCREATE_FPU_PRESERVE, which leaves that thread's x87 precision at 24
// bits, and then asks its ray queries, barrier calls and frames on it. Rays
// on a sloped, tiled terrain far from the origin (on the tiles' edges, their
// corners, their diagonals and anywhere) must all hit, at the plane's height,
// and every entry must hand the game its control word back bit for bit.
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asset_writer.h"
#include "base/fpu_precision.h"
#include "hook_fixture.h"
#include "real_device_fixture.h"

namespace {

using HookTest::PluginHost;

// A terrain of kTiles x kTiles tiles whose first corner lies at map
// (origin, origin), on the plane height = base + kSlopeX * dx + kSlopeY * dy,
// with tile sizes and slopes that no binary fraction gives exactly: the
// corners are rounded to float as a file's would be, and each triangle's own
// plane (through its three rounded corners) is the height a ray must find.
constexpr int kTiles = 60;
constexpr double kTileX = 7.3, kTileY = 6.7, kSlopeX = 0.37, kSlopeY = 0.21;

struct Terrain {
    Terrain(float origin, float base) : origin(origin)
    {
        for (int i = 0; i <= kTiles; ++i) {
            x[i] = static_cast<float>(origin + kTileX * i);
            y[i] = static_cast<float>(origin + kTileY * i);
        }
        for (int j = 0; j <= kTiles; ++j) {
            for (int i = 0; i <= kTiles; ++i) {
                height[j][i] = static_cast<float>(base + kSlopeX * (x[i] - origin) + kSlopeY * (y[j] - origin));
            }
        }
    }
    // The height of the triangle under (px, py), on its own plane.
    double HeightAt(double px, double py) const
    {
        const int i = std::min(int(std::upper_bound(x, x + kTiles + 1, float(px)) - x) - 1, kTiles - 1);
        const int j = std::min(int(std::upper_bound(y, y + kTiles + 1, float(py)) - y) - 1, kTiles - 1);
        const double u = (px - x[i]) / (double(x[i + 1]) - x[i]), v = (py - y[j]) / (double(y[j + 1]) - y[j]);
        const double h00 = height[j][i], h11 = height[j + 1][i + 1];
        // Split along the diagonal from (i, j) to (i + 1, j + 1).
        return u >= v ? h00 + u * (height[j][i + 1] - h00) + v * (h11 - height[j][i + 1])
                      : h00 + v * (height[j + 1][i] - h00) + u * (h11 - height[j + 1][i]);
    }
    float origin;
    float x[kTiles + 1], y[kTiles + 1];
    float height[kTiles + 1][kTiles + 1];
};

// The file's second axis is up and its third is the map's second.
void WriteTerrain(const std::string& path, const Terrain& terrain)
{
    TestSupport::MeshPart part;
    part.name = "terrain";
    for (int j = 0; j <= kTiles; ++j) {
        for (int i = 0; i <= kTiles; ++i) {
            TestSupport::Vertex vertex;
            vertex.x = terrain.x[i];
            vertex.z = terrain.y[j];
            vertex.y = terrain.height[j][i];
            vertex.nx = 0, vertex.ny = 1, vertex.nz = 0;
            part.vertices.push_back(vertex);
        }
    }
    auto at = [](int i, int j) { return static_cast<unsigned>(j * (kTiles + 1) + i); };
    for (int j = 0; j < kTiles; ++j) {
        for (int i = 0; i < kTiles; ++i) {
            part.triangles.push_back({at(i, j), at(i + 1, j + 1), at(i + 1, j)});
            part.triangles.push_back({at(i, j), at(i, j + 1), at(i + 1, j + 1)});
        }
    }
    TestSupport::WriteObj(path, {part});
}

enum Kind { kEdge, kCorner, kDiagonal, kAnywhere, kKinds };
const char* const kKindNames[kKinds] = {"edges", "corners", "diagonals", "anywhere"};

struct Ray {
    float x, y;
};

// Ray positions of each kind over the terrain's inner corners (its border
// would be a legitimate miss on one side).
std::vector<Ray> RaysOfKind(Kind kind, const Terrain& terrain, std::mt19937& random)
{
    auto fraction = [&random] { return static_cast<double>(random() % 4096) / 4096.0; };
    std::vector<Ray> rays;
    for (int j = 1; j < kTiles; ++j) {
        for (int i = 1; i < kTiles; ++i) {
            const float x = terrain.x[i], y = terrain.y[j];
            const double w = terrain.x[i + 1] - x, h = terrain.y[j + 1] - y;
            const double t = fraction();
            switch (kind) {
            case kEdge:
                rays.push_back(random() & 1 ? Ray{x, static_cast<float>(y + t * h)} : Ray{static_cast<float>(x + t * w), y});
                break;
            case kCorner: rays.push_back({x, y}); break;
            case kDiagonal: rays.push_back({static_cast<float>(x + t * w), static_cast<float>(y + t * h)}); break;
            case kAnywhere: rays.push_back({static_cast<float>(x + t * w), static_cast<float>(y + fraction() * h)}); break;
            default: break;
            }
        }
    }
    return rays;
}

class FpuPrecisionTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        // What the device's creation left on this thread: the condition under test.
        gameWord_ = Fpu::ControlWord();
        ASSERT_EQ(gameWord_ & Fpu::kPrecisionMask, Fpu::kPrecision24)
            << "the device was created without D3DCREATE_FPU_PRESERVE; precision control should be 24 bits";
    }
    void TearDown() override { Host::HostEnvironment::Instance().SetGameFlowState(3); }

    std::uint16_t gameWord_ = 0;
};

TEST_F(FpuPrecisionTest, RaysFarFromTheOriginHitAtThePlanesHeightAndTheGameKeepsItsControlWord)
{
    const std::string settings = "[Options]\nMapPath=map.ini\nCollisionsEnabled=1\nGenerateBarriers=1\n";
    unsigned wordChanges = 0;
    auto check = [&](const char* entry) {
        if (Fpu::ControlWord() != gameWord_) {
            ++wordChanges;
            ADD_FAILURE() << entry << " left control word " << std::hex << Fpu::ControlWord() << ", not " << gameWord_;
            Fpu::SetControlWord(gameWord_);
        }
    };
    for (float distance : {1000.0f, 5000.0f, 20000.0f, 100000.0f}) {
        for (float base : {0.0f, distance}) {
            const auto terrain = std::make_unique<Terrain>(distance, base);
            PluginHost plugin(settings, nullptr, [&](const std::string& game) {
                TestSupport::WriteFile(game + "\\map.ini", "[Options]\nMapCollision0Path=terrain.obj\n");
                WriteTerrain(game + "\\terrain.obj", *terrain);
            });
            ASSERT_TRUE(plugin.Started());
            Host::HostEnvironment::Instance().SetGameFlowState(4);
            std::mt19937 random(static_cast<unsigned>(distance + base));
            unsigned misses[kKinds] = {}, offPlane[kKinds] = {}, rays[kKinds] = {};
            double worst = 0;
            for (int kind = 0; kind < kKinds; ++kind) {
                for (const Ray& ray : RaysOfKind(static_cast<Kind>(kind), *terrain, random)) {
                    const double height = terrain->HeightAt(ray.x, ray.y);
                    // Host vector order: (map y, map height, map x).
                    const float start[3] = {ray.y, static_cast<float>(height + 50), ray.x};
                    const float end[3] = {ray.y, static_cast<float>(height - 50), ray.x};
                    float triangle[12], hitDistance = -1;
                    const bool hit = Host::PassQuerySite(start, end, triangle, &hitDistance);
                    check("the ray query");
                    ++rays[kind];
                    if (!hit) {
                        ++misses[kind];
                        continue;
                    }
                    const double off = std::abs(double(start[1]) - hitDistance - height);
                    worst = std::max(worst, off);
                    if (off > 1e-3) ++offPlane[kind];
                }
            }
            char line[160];
            std::string summary;
            for (int kind = 0; kind < kKinds; ++kind) {
                std::snprintf(line, sizeof line, " %s %u/%u missed, %u off the plane;", kKindNames[kind], misses[kind],
                              rays[kind], offPlane[kind]);
                summary += line;
            }
            std::printf("origin %.0f, height %.0f:%s worst %.6f\n", distance, base, summary.c_str(), worst);
            for (int kind = 0; kind < kKinds; ++kind) {
                EXPECT_EQ(misses[kind], 0u) << kKindNames[kind] << " at " << distance << ", height " << base;
                EXPECT_EQ(offPlane[kind], 0u) << kKindNames[kind] << " at " << distance << ", height " << base;
            }

            // The game's other entries: its frame (the map loaded in it),
            // the render entry and the barrier call on an object near the
            // terrain.
            RealDeviceTest::device_->Device()->BeginScene();
            Host::PassEventSite(1);
            check("the frame event");
            Host::RunRenderCodeB();
            check("the render entry");
            RealDeviceTest::device_->Device()->EndScene();
            std::uint32_t captured[0x40] = {}, object[0x18] = {};
            const float position[3] = {distance + 8, base, distance + 8};
            std::memcpy(&object[0x20 / 4], position, sizeof position);
            Host::Registers in{};
            in.eflags = 0x202;
            in.esi = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(captured));
            Host::CallWithRegisters(Host::SiteEntry("B10"), in);
            in.ecx = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(object));
            Host::CallWithRegisters(Host::SiteEntry("B11"), in, {0});
            check("the barrier call");
            EXPECT_NE(object[0x40 / 4], 0u) << "the barrier detour did not run";
            Host::HostEnvironment::Instance().SetGameFlowState(3);
        }
    }
    EXPECT_EQ(wordChanges, 0u);
}

}  // namespace
