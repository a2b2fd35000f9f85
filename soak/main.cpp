// vornak_soak: long runs of the plug-in's code that tests cannot afford.
//   vornak_soak [--resets N] [--cycles N] [--frames N] [--files N] [--seed N]
//               [--broken-file F] [--squeeze-frames N] [--free-mb N]
//               [--only reset|churn|faults|address-space|settings]
// churn     N acquire, release and import cycles (10000) of models and
//           textures on four threads
// reset     N device resets (1000) through the game's reset sites on a real
//           device while member models stream in and out
// faults    N frames (10000) of that streaming flight with resets on a device
//           that fails 1 % of creations and locks and is lost every 500
//           frames for 30, with 1 in 10,000 allocations failing, then
//           without faults; against the same flight never failing (seed N
//           picks the failures, default 1); with --broken-file (as
//           g1_b.obj) that file of the flight runs out of memory on every
//           import, in both flights
// address-space
//           N frames (1500) of that streaming flight with resets after the
//           address space was taken until 400 MB, then in a second run
//           150 MB, were left free (--free-mb N: that amount alone), given
//           back half-way; against the same flight unsqueezed
// settings  the settings reader against GetPrivateProfileStringA on N
//           generated files (10000), from seed N on (default: from the clock,
//           printed, so that a failing run can be repeated)
// One line per kind with its counts and figures, then the failures; the exit
// code is 1 when any kind failed, 2 for bad arguments, 3 when the churn's,
// the faults' or the address-space run's watchdog found the threads stuck.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "address_space_soak.h"
#include "churn_soak.h"
#include "fault_soak.h"
#include "reset_soak.h"
#include "settings_soak.h"

namespace {

bool Report(const char* kind, const Soak::SoakFindings& findings)
{
    std::printf("%s %s\n", findings.Passed() ? "PASS" : "FAIL", findings.summary.c_str());
    for (const std::string& failure : findings.failures) std::printf("  %s: %s\n", kind, failure.c_str());
    if (findings.failureCount > findings.failures.size()) {
        std::printf("  %s: ... %u failures in all\n", kind, findings.failureCount);
    }
    std::fflush(stdout);
    return findings.Passed();
}

bool ParseCount(const char* text, unsigned& value)
{
    char* end = nullptr;
    unsigned long parsed = std::strtoul(text, &end, 10);
    if (!*text || *end) return false;
    value = static_cast<unsigned>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Soak::ResetSoakConfig reset;
    Soak::ChurnSoakConfig churn;
    Soak::FaultSoakConfig faults;
    Soak::SettingsSoakConfig settings;
    Soak::AddressSpaceSoakConfig squeeze;
    std::vector<std::size_t> freeMb = {400, 150};
    settings.firstSeed = GetTickCount() % 1000000000u;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        bool ok = true;
        if (option == "--resets") ok = ParseCount(value, reset.resets);
        else if (option == "--cycles") ok = ParseCount(value, churn.cycles);
        else if (option == "--frames") ok = ParseCount(value, faults.frames);
        else if (option == "--files") ok = ParseCount(value, settings.files);
        else if (option == "--squeeze-frames") ok = ParseCount(value, squeeze.frames);
        else if (option == "--member-scale") ok = ParseCount(value, squeeze.memberScale) && squeeze.memberScale > 0;
        else if (option == "--free-mb") {
            unsigned mb = 0;
            ok = ParseCount(value, mb) && mb > 0;
            freeMb = {mb};
        }
        else if (option == "--broken-file") ok = (faults.brokenFile = value).size() > 0;
        else if (option == "--seed") {
            ok = ParseCount(value, settings.firstSeed) && ParseCount(value, churn.seed) &&
                 ParseCount(value, faults.seed);
        } else if (option == "--only" && (!std::strcmp(value, "reset") || !std::strcmp(value, "churn") ||
                                          !std::strcmp(value, "faults") || !std::strcmp(value, "address-space") ||
                                          !std::strcmp(value, "settings"))) {
            only = value;
        }
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "usage: vornak_soak [--resets N] [--cycles N] [--frames N] [--files N] [--seed N] [--broken-file F] "
                                 "[--squeeze-frames N] [--free-mb N] [--only reset|churn|faults|address-space|settings]\n");
            return 2;
        }
        ++i;
    }
    bool passed = true;
    // The churn first: it measures the process's memory, which the real
    // device's driver (its threads, caches and mappings) would then share.
    if (only.empty() || only == "churn") passed &= Report("churn", Soak::RunChurnSoak(churn));
    if (only.empty() || only == "reset") passed &= Report("reset", Soak::RunResetSoak(reset));
    if (only.empty() || only == "faults") passed &= Report("faults", Soak::RunFaultSoak(faults));
    if (only.empty() || only == "address-space") {
        for (std::size_t mb : freeMb) {
            squeeze.leaveFreeMb = mb;
            passed &= Report("address-space", Soak::RunAddressSpaceSoak(squeeze));
        }
    }
    if (only.empty() || only == "settings") passed &= Report("settings", Soak::RunSettingsSoak(settings));
    return passed ? 0 : 1;
}
