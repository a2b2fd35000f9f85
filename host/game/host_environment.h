// The host game's data and routines inside this program's own image, at
// the addresses the plug-in uses: device and window pointers, game-flow
// state, camera, frame time and the attribute database, plus machine-code
// thunks at the routine addresses that reach the C++ below and record every
// call. Tests and the programs that drive the host set the data here.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Host {

struct HostRoutineCall {
    std::uintptr_t routine;               // the routine's host address
    std::vector<std::uintptr_t> arguments;
    std::uintptr_t result;
};

// An opaque host record (what the plug-in hands back to the host).
struct HostRecord {
    std::string className;
    std::string name;
};

// The game's code at rest is read-execute, as the loader leaves an
// executable's code (its data after it read-write): the host's own writes
// of its code (the routine thunks, the game's code at the patch sites) make
// it writable for the scope of one of these.
class HostCodeWrite {
public:
    HostCodeWrite();
    ~HostCodeWrite();
    HostCodeWrite(const HostCodeWrite&) = delete;
    HostCodeWrite& operator=(const HostCodeWrite&) = delete;
};

class HostEnvironment {
public:
    // Lays out the host range (code read-execute, data read-write) and
    // writes the routine thunks; the first call does it, later calls return
    // the same object.
    static HostEnvironment& Instance();

    // Host data.
    void SetDevice(IDirect3DDevice9* device);
    void SetWindow(HWND window);
    void SetGameFlowState(int state);
    void SetFrameTime(float seconds);
    void SetCameraPosition(const float position[3]);
    void SetViewMatrix(const float matrix[16]);
    // The camera record: view and projection, or absent (null pointer).
    void SetCameraRecord(const float view[16], const float projection[16]);
    void ClearCameraRecord();

    // The attribute database. Present by default with class "simsurface"
    // and a few surfaces; it can be made absent or lose the class.
    void SetAttributeDatabasePresent(bool present);
    void RemoveClass(const std::string& className);
    // The record for (class, name), created when unknown; stable for the process.
    HostRecord* AddRecord(const std::string& className, const std::string& name);
    // The record if the database knows it, else null (no creation).
    HostRecord* FindRecord(const std::string& className, const std::string& name);

    // The key the name-key routine gives a name (stable, case-sensitive).
    static std::uint32_t NameKeyOf(const char* name);

    std::vector<HostRoutineCall> Calls();
    void ClearCalls();
    void Record(const HostRoutineCall& call);

    // Used by the routines.
    bool HasClass(std::uint32_t classKey);
    HostRecord* Lookup(std::uint32_t classKey, std::uint32_t recordKey);

private:
    HostEnvironment();

    struct AttributeDatabase {
        std::map<std::uint32_t, std::map<std::uint32_t, std::unique_ptr<HostRecord>>> classes;
    };
    struct CameraRecord {
        float view[16];
        float projection[16];
    };

    std::mutex lock_;
    std::vector<HostRoutineCall> calls_;
    AttributeDatabase database_;
    CameraRecord camera_{};
};

}  // namespace Host
