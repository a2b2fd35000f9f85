// What the library does when the host loads it, on the loader thread before
// the entry returns: the host event hooks first, then the game directory,
// the settings and the map definition, the code patches the options select,
// one render entry, OnFrame in the frame events and the device-reset hook.
// Nothing escapes it and no thread is started.
#pragma once

namespace Startup {

void RunStartup();

}  // namespace Startup
