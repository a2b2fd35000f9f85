// A picture of the map-loading frames half-way through, without knowing
// beforehand how many there are: at most a few back buffers are kept, every
// `stride`-th one; when more would be kept, every second is dropped and the
// stride doubled. The one nearest the middle is written at the end.
#pragma once

#include <string>
#include <vector>

#include "devices/host_device.h"

namespace Host {

class LoadingPictures {
public:
    explicit LoadingPictures(HostDevice& device) : device_(device) {}

    void Offer();

    int Seen() const { return seen_; }

    // Writes the kept picture nearest the middle; its index, or -1.
    int WriteMiddle(const std::string& path) const;

private:
    struct Picture {
        int index;
        std::vector<unsigned char> rgb;
        int width, height;
    };
    static constexpr std::size_t kKept = 8;
    HostDevice& device_;
    std::vector<Picture> kept_;
    int stride_ = 1;
    int seen_ = 0;
};

}  // namespace Host
