// The stand-in for the host game: a process laid out like the host
// executable that makes a game directory current and loads the plug-in
// with LoadLibraryA, as the game does at start-up. The host program, the
// tests and the tools all build their host through this class.
#pragma once

#include <windows.h>

#include <string>

namespace Host {

struct HostConfig {
    std::string gameDirectory;  // made current before the plug-in loads
    std::string pluginPath;     // absolute, or relative to the starting directory
};

class SimulatedHost {
public:
    explicit SimulatedHost(HostConfig config);
    ~SimulatedHost();
    SimulatedHost(const SimulatedHost&) = delete;
    SimulatedHost& operator=(const SimulatedHost&) = delete;

    // Enters the game directory, writes the game's own code at every patch
    // site (WriteHostSites) and loads the plug-in. Returns false with a
    // message in Error() when entering or loading fails.
    bool Start();

    // The plug-in's log in the game directory, as bytes; empty when absent.
    std::string ReadLog() const;

    const std::string& Error() const { return error_; }
    HMODULE Plugin() const { return plugin_; }

    // Unloads the plug-in, waits until its image has gone (Error() says so
    // when it has not after 10 s) and returns to the starting directory.
    // The game never unloads it; tests do, to start it afresh in the same
    // process.
    void Stop();

private:
    HostConfig config_;
    std::string startDirectory_;
    std::string error_;
    HMODULE plugin_ = nullptr;
};

// The directory of the running program, with a trailing backslash.
std::string ProgramDirectory();

// The full path of `path` taken relative to the current directory.
std::string AbsolutePath(const std::string& path);

}  // namespace Host
