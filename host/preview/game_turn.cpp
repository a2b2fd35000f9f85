#include "preview/game_turn.h"

#include <windows.h>

#include <cstring>

#include "image/host_sites.h"

namespace Host {
namespace {

constexpr float kRayHeight = 50;  // the ray runs from this above the ground point to this below
constexpr std::size_t kSegmentBytes = 40;

std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace

VehicleRecord DriveVehicle(float x, float y, float& height)
{
    VehicleRecord v;
    v.present = true;
    Registers game{};
    game.eflags = 0x202;
    // Host vector order (h0, h1, h2) is the game's world (y, z, x).
    const float start[3] = {y, kRayHeight, x}, end[3] = {y, -kRayHeight, x};
    float triangle[12] = {};
    float distance = -1;
    v.hit = PassQuerySite(start, end, triangle, &distance);
    if (v.hit) {
        v.distance = distance;
        height = kRayHeight - distance;
        for (int corner = 0; corner < 3; ++corner) {
            const float* host = triangle + 4 * corner;
            v.triangle[corner][0] = host[2];
            v.triangle[corner][1] = host[0];
            v.triangle[corner][2] = host[1];
        }
        std::uint32_t frame[20] = {};
        Registers surface = game;
        surface.ebp = Address(frame);
        CallWithRegisters(SiteEntry("C7"), surface);
        v.surface = frame[0x38 / 4];
    }
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = height;

    // The barrier request: the capture site sees the vehicle's object (its
    // field 0x78 leads through a pointer to a record with the position at
    // 0x10), then the barrier call site runs for a second object, which
    // also holds the position at 0x20.
    const float hostPosition[3] = {y, height, x};
    float positionRecord[8] = {};
    std::memcpy(positionRecord + 4, hostPosition, sizeof hostPosition);
    const void* link = positionRecord;
    std::uint32_t captured[0x40] = {};
    captured[0x78 / 4] = Address(&link);
    std::uint32_t object[0x20] = {};
    std::memcpy(object + 0x20 / 4, hostPosition, sizeof hostPosition);
    Registers capture = game;
    capture.esi = Address(captured);
    CallWithRegisters(SiteEntry("B10"), capture);
    Registers barrier = game;
    barrier.ecx = Address(object);
    CallWithRegisters(SiteEntry("B11"), barrier, {0});
    if (object[0x54 / 4] > object[0x50 / 4]) v.barriers = long((object[0x54 / 4] - object[0x50 / 4]) / kSegmentBytes);
    return v;
}

}  // namespace Host
