// The plug-in's start-up log, silenced for the checker. The core library's
// log opens VornakMapLoader.log in the current directory as the program
// starts; linked in place of it (an object of the program wins over the
// library's), this definition keeps the checker from creating or emptying
// that file wherever it is started, such as in a game directory.
#include <string>

#include "base/log.h"

namespace Startup {

void WriteLog(std::string) {}

}  // namespace Startup
