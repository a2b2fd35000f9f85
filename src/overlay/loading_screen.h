// The loading screen: while the map and the collision models load inside
// one blocked host frame, each file gets one complete presented frame on
// the host's device: black, with a label, the file name, a counter
// "current/total", a progress bar as wide as the window is high, and the
// program's banner. Drawn through the overlay queues as one overlay frame.
#pragma once

#include <string>

// Clears, draws and presents one frame. Must be called outside any scene
// (it opens and closes its own) on the host's render thread. A label or
// detail too wide for the window is drawn with its middle elided.
void DrawLoadingScreen(const std::string& label, const std::string& detail, double current, double total);
