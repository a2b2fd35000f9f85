#include "hooks/startup.h"

#include "base/game_directory.h"
#include "config/ini_reader.h"
#include "config/options.h"
#include "hooks/frame_hooks.h"
#include "hooks/host_events.h"
#include "hooks/patch_table.h"

namespace Startup {
namespace {

void Initialise()
{
    try {
        CaptureGameDirectory();
        Config::LoadSettings();
        Config::DiscardIniCache();
    } catch (...) {
        // The host's loader must never see an exception; whatever was read
        // so far stays, the rest keeps its defaults.
    }
    const Config::OptionsRecord& options = Config::Options;
    Hooks::InstallPatchGroup(Hooks::PatchGroup::Fixed);
    if (options.CollisionsEnabled) {
        Hooks::InstallPatchGroup(Hooks::PatchGroup::Collision);
        if (options.GenerateBarriers) Hooks::InstallPatchGroup(Hooks::PatchGroup::Barrier);
    }
    // The render entry and the draw path follow the same option, whatever
    // reading it got to.
    Hooks::InstallPatchGroup(options.UseGameShaders ? Hooks::PatchGroup::RenderEntryA : Hooks::PatchGroup::RenderEntryB);
    Config::UseHostShaders = options.UseGameShaders;
    try {
        Hooks::RegisterFrameCallback(&OnFrame);
    } catch (...) {
        // No memory for the list: the host runs without the map, but the
        // library entry still returns normally.
    }
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
}

}  // namespace

void RunStartup()
{
    Hooks::InstallPatchGroup(Hooks::PatchGroup::EventHooks);
    Initialise();
}

}  // namespace Startup
