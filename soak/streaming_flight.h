// The streaming flight the device soaks share: a generated map of groups
// along the X axis (each a LOD box and two members, walls of boxes big
// enough that an import takes a while, textured in every format the
// plug-in reads), the game's camera looking across at it from anywhere
// along it, and a picture of one camera once every member in view is
// loaded and drawn.
//
// Render thread only (the calling thread), with the host environment's
// device set.
#pragma once

#include <d3d9.h>

#include <functional>
#include <string>
#include <vector>

#include "devices/host_device.h"
#include "soak_findings.h"

namespace Soak {

inline constexpr float kGroupSpacing = 60;
inline constexpr D3DCOLOR kFlightClearColour = D3DCOLOR_XRGB(20, 30, 40);

// The flight's settings: distances, no smart culling, members unloaded
// when culled, the fixed-function path.
void ConfigureFlight();

// Writes the map's files into `directory` (once) and adds its groups to
// RenderGroups, acquiring the LODs now. `memberScale` multiplies the boxes
// of every member (a map of larger models).
void WriteFlightFiles(const std::string& directory, unsigned groups, unsigned memberScale = 1);
void AddFlightGroups(const std::string& directory, unsigned groups);

// The game's camera at `x` along the map, looking across at the walls.
void PlaceCamera(float x, int width, int height);

// Where the camera goes next, back and forth along the map by `step`.
class FlightPath {
public:
    FlightPath(unsigned groups, float step) : lastX_(kGroupSpacing * float(groups - 1) + 30), step_(step) {}
    float Next();

private:
    float lastX_, step_;
    float x_ = -30, direction_ = 1;
};

// Models whose import or device work is not finished.
unsigned ModelsLoading();

// Runs `frame` at the current camera until two frames in a row end with no
// import running and nothing made again that the device had refused; false
// when that never happens.
bool Settle(const std::function<void()>& frame);

// Settles, draws one more frame and reads the back buffer; false (and a
// failure in `findings`) when either cannot be done. `pixels` gets the count.
bool TakePicture(Host::HostDevice& real, const std::function<void()>& frame, std::vector<unsigned char>& rgb,
                 long& pixels, SoakFindings& findings);

// Pixels whose colour differs between two pictures of the same size.
long DifferingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

// Releases the map and waits for imports still running to end and their
// models to go, as the render pass would over the next frames.
void ReleaseFlightMap();

}  // namespace Soak
