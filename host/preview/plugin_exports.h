// What the plug-in's preview build exports to the preview: its streaming
// counters, which mark the report's frames and tell when streaming has
// finished, and the switch that draws one group alone. The released DLL
// exports none of them: the report then says the frames are unmarked, the
// views wait for the draws to stay the same, and every group is drawn.
#pragma once

#include <windows.h>

#include <optional>

namespace Host {

class PluginExports {
public:
    explicit PluginExports(HMODULE plugin)
        : designedWaits_(Find<Counter>(plugin, "VornakDesignedWaits")),
          streamingLeft_(Find<Counter>(plugin, "VornakFramesWithStreamingLeft")),
          modelsLoading_(Find<Counter>(plugin, "VornakModelsLoading")),
          drawGroupAlone_(Find<Switch>(plugin, "VornakDrawGroupAlone"))
    {
    }
    unsigned DesignedWaits() const { return designedWaits_ ? designedWaits_() : 0; }
    unsigned FramesWithStreamingLeft() const { return streamingLeft_ ? streamingLeft_() : 0; }
    bool CountersAvailable() const { return designedWaits_ && streamingLeft_; }
    // Models importing or waiting for device work; nothing without the export.
    std::optional<unsigned> ModelsLoading() const
    {
        return modelsLoading_ ? std::optional<unsigned>(modelsLoading_()) : std::nullopt;
    }
    // Draws only the group at `position` of the map's list from the next
    // frame on (every group for -1); whether that group is drawn alone.
    bool DrawGroupAlone(int position) const { return drawGroupAlone_ && drawGroupAlone_(position) != 0; }

private:
    using Counter = unsigned(__cdecl*)();
    using Switch = int(__cdecl*)(int);
    template <class Function>
    static Function Find(HMODULE plugin, const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(plugin, name)));
    }
    Counter designedWaits_, streamingLeft_, modelsLoading_;
    Switch drawGroupAlone_;
};

}  // namespace Host
