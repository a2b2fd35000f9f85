// vornak_host: runs the plug-in the way the game does, in a game directory
// of your choice, and prints the plug-in's log.
//
//   vornak_host.exe [--game DIR] [--plugin PATH]
//
// DIR defaults to the current directory, PATH to VornakMapLoader.dll beside
// this program.
#include <cstdio>
#include <cstring>
#include <string>

#include "simulated_host.h"

namespace {

int Usage(const char* message)
{
    std::fprintf(stderr, "vornak_host: %s\nusage: vornak_host.exe [--game DIR] [--plugin PATH]\n", message);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Host::HostConfig config;
    config.pluginPath = Host::ProgramDirectory() + "VornakMapLoader.dll";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if ((argument == "--game" || argument == "--plugin") && i + 1 < argc) {
            (argument == "--game" ? config.gameDirectory : config.pluginPath) = argv[++i];
        } else {
            return Usage(("unknown argument " + argument).c_str());
        }
    }

    Host::SimulatedHost host(config);
    if (!host.Start()) {
        std::fprintf(stderr, "vornak_host: %s\n", host.Error().c_str());
        return 1;
    }
    std::string log = host.ReadLog();
    std::printf("--- VornakMapLoader.log ---\n%s--- end of log ---\n", log.c_str());
    return 0;
}
