// The host's surface routines as a test reads them back: each call of the
// name-key, class-test and record-lookup routines as one line, keys shown
// by the names they stand for, other routines left out.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "base/host_view.h"
#include "game/host_environment.h"

namespace TestSupport {

inline std::vector<std::string> SurfaceCalls(const std::vector<Host::HostRoutineCall>& calls,
                                             std::initializer_list<const char*> names)
{
    auto name = [&](std::uintptr_t key) -> std::string {
        for (const char* candidate : names) {
            if (Host::HostEnvironment::NameKeyOf(candidate) == key) return candidate;
        }
        return "?";
    };
    std::vector<std::string> lines;
    for (const Host::HostRoutineCall& call : calls) {
        if (call.routine == HostGame::kNameKeyRoutine) {
            lines.push_back(std::string("key ") + reinterpret_cast<const char*>(call.arguments[0]));
        } else if (call.routine == HostGame::kHasClassRoutine) {
            lines.push_back("has class " + name(call.arguments[1]));
        } else if (call.routine == HostGame::kFindRecordRoutine) {
            lines.push_back("record " + name(call.arguments[0]) + " " + name(call.arguments[1]));
        }
    }
    return lines;
}

}  // namespace TestSupport
