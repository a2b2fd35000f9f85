// What the library does when the host loads it: captures the game
// directory and reads the settings and the map definition. Runs on the
// loader thread before the entry returns; nothing escapes it.
#pragma once

namespace Startup {

void RunStartup();

}  // namespace Startup
