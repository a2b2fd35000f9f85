// What one kind of soak run found: its one-line summary and the failures,
// of which the first few are kept word for word.
#pragma once

#include <string>
#include <vector>

namespace Soak {

struct SoakFindings {
    std::string summary;                // counts and figures, one line
    std::vector<std::string> failures;  // the first kMaxKept, in order
    unsigned failureCount = 0;

    static constexpr std::size_t kMaxKept = 10;
    void Fail(const std::string& message)
    {
        ++failureCount;
        if (failures.size() < kMaxKept) failures.push_back(message);
    }
    bool Passed() const { return failureCount == 0; }
};

}  // namespace Soak
