// Ends the process (exit code 3) when a soak's flight stops moving for a
// minute: a hang is a finding, not a soak that never ends. Started before
// memory runs short, it allocates nothing while it watches.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace Soak {

class Watchdog {
public:
    Watchdog(const char* kind, std::atomic<unsigned>& progress)
        : kind_(kind), progress_(progress), thread_([this] { Watch(); })
    {
    }
    ~Watchdog()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void Watch()
    {
        unsigned last = ~0u;
        int still = 0;
        while (!stop_) {
            Sleep(500);
            const unsigned now = progress_.load(std::memory_order_relaxed);
            still = now == last ? still + 1 : 0;
            last = now;
            if (still == 120) {
                std::printf("FAIL %s: no frame for a minute at frame %u (hung)\n", kind_, now);
                std::fflush(stdout);
                ExitProcess(3);
            }
        }
    }

    const char* kind_;
    std::atomic<unsigned>& progress_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace Soak
