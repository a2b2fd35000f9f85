// The game's own turn in a preview frame, through the game's sites: a
// vehicle asks the ray query site for the ground below it (the game's
// surface code then takes the hit's surface) and makes one barrier request
// (the capture site sees a game object whose position record is the
// vehicle's, the barrier call site a second one, whose barrier fields the
// plug-in fills).
#pragma once

#include <cstdint>

namespace Host {

// The vehicle's turn in one flight frame, in the game's world (x, y, z;
// Z up) unless said otherwise.
struct VehicleRecord {
    bool present = false;     // the frame had the vehicle's turn
    float position[3] = {};   // on the ground found (the last height found on a miss)
    bool hit = false;
    float distance = 0;       // from the ray start; on a hit
    float triangle[3][3] = {};
    std::uint32_t surface = 0;  // the surface record the game's surface code got
    long barriers = 0;        // segments handed over: (end - start) / 40
};

// The vehicle at ground point (x, y), as the game treats a car: the ray
// straight down through the query site, after a hit the game's surface code
// (site C7 with no record of its own: it keeps the surface it is handed),
// then one barrier request for the vehicle. `height` is the vehicle's
// height, kept from the last hit.
VehicleRecord DriveVehicle(float x, float y, float& height);

}  // namespace Host
