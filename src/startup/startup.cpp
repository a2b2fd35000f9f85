#include "startup/startup.h"

#include "config/ini_reader.h"
#include "config/options.h"
#include "startup/game_directory.h"

namespace Startup {

void RunStartup()
{
    try {
        CaptureGameDirectory();
        Config::LoadSettings();
        Config::DiscardIniCache();
        if (!Config::Options.UseGameShaders) Config::UseHostShaders = false;
    } catch (...) {
        // The host's loader must never see an exception; whatever was read
        // so far stays, the rest keeps its defaults.
    }
}

}  // namespace Startup
