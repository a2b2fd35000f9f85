// The host event lists: four ordered lists of callbacks, each run at one
// host call site (rows E1 to E4), before or after the host's own routine
// there. Only FrameEvents, run once per rendered host frame inside the
// host's scene, ever gets a callback. Built during start-up, only read later.
#pragma once

#include <vector>

namespace Hooks {

using HostEventCallback = void (*)();

struct HostEventList {
    std::vector<HostEventCallback> callbacks;
};

// The lists of E1 to E4; FrameEvents is the second.
extern HostEventList HostEventLists[4];
inline HostEventList& FrameEvents = HostEventLists[1];

// Adds a callback at the end of FrameEvents.
void RegisterFrameCallback(HostEventCallback callback);

}  // namespace Hooks
