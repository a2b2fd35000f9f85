// Pictures of the overlay for people to look at: the loading screen and the
// debug display drawn by the plug-in's code on real devices at 1920x1080 and
// 1280x1024, saved as PNG files.
#pragma once

#include <windows.h>

#include <string>

namespace Host {

// Makes `window` a borderless window of exactly width x height at the
// screen's origin, as the game's own window around its back buffer, so that
// the window rectangle the overlay measures is the back buffer's size.
bool FitWindowToBackBuffer(HWND window, int width, int height);

// Writes loading_1920x1080.png, debug_1920x1080.png, loading_1280x1024.png
// and debug_1280x1024.png into `outputDirectory` (which must exist). The
// loading screen shows "Loading map...", a long file name, 3/12 and a bar a
// quarter full; the debug display shows its four counters over a grey-blue
// backdrop. Each picture is the back buffer as the frame is presented.
// Publishes its devices at the host's device and window addresses while it
// runs and puts the previous values back afterwards; the overlay is ended
// before and after each device (the next overlay frame starts it afresh)
// and its queues are left empty.
// False, with a message in *error, when a device or a file fails.
bool WriteOverlayPreview(const std::string& outputDirectory, std::string* error);

// What the preview's loading screen shows.
inline constexpr const char* kPreviewLoadingLabel = "Loading map...";
extern const char* const kPreviewLoadingDetail;
inline constexpr double kPreviewLoadingCurrent = 3;
inline constexpr double kPreviewLoadingTotal = 12;
inline constexpr unsigned kPreviewDebugBackdrop = 0xFF303848;  // D3DCOLOR of the debug pictures' background

}  // namespace Host
