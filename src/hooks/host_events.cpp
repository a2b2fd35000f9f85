#include "hooks/host_events.h"

#include "base/fpu_precision.h"
#include "hooks/host_stubs.h"

namespace Hooks {

HostEventList HostEventLists[4];

void RegisterFrameCallback(HostEventCallback callback) { FrameEvents.callbacks.push_back(callback); }

}  // namespace Hooks

void RunHostEventList(int index)
{
    if (index < 0 || index >= 4) return;
    const Fpu::DoublePrecisionScope precision;
    // First to last; a callback cannot stop the walk, and nothing it throws
    // may reach the host's code.
    for (Hooks::HostEventCallback callback : Hooks::HostEventLists[index].callbacks) {
        try {
            callback();
        } catch (...) {
        }
    }
}
