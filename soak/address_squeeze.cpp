#include "address_squeeze.h"

#include <windows.h>

#include <algorithm>

namespace Soak {
namespace {

constexpr std::size_t kLargestBlock = std::size_t(64) << 20;
constexpr std::size_t kSmallestBlock = std::size_t(64) << 10;  // the allocation granularity

}  // namespace

AddressSpaceFree MeasureFreeAddressSpace()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    AddressSpaceFree found;
    auto at = static_cast<const char*>(info.lpMinimumApplicationAddress);
    const auto end = static_cast<const char*>(info.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < end && VirtualQuery(at, &region, sizeof(region)) == sizeof(region)) {
        std::size_t size = region.RegionSize;
        if (size > std::size_t(end - at) + 1) size = std::size_t(end - at) + 1;
        if (region.State == MEM_FREE) {
            found.total += size;
            if (size > found.largest) found.largest = size;
        } else if (region.State == MEM_RESERVE) {
            found.reserved += size;
        } else if (region.Type == MEM_IMAGE) {
            found.images += size;
        } else if (region.Type == MEM_MAPPED) {
            found.mapped += size;
        } else {
            found.committedPrivate += size;
        }
        const std::size_t step = region.RegionSize ? region.RegionSize : info.dwPageSize;
        if (std::size_t(end - at) < step) break;
        at += step;
    }
    return found;
}

std::size_t AddressSpaceSqueeze::Squeeze(std::size_t leaveFree)
{
    // Room for every block now: the vector must not grow once memory is short.
    blocks_.reserve(blocks_.size() + 65536);
    // Wine answers VirtualQuery with MEM_RESERVE for the areas its loader
    // keeps from the system's own libraries (about 1.5 GB of the 2 GB here),
    // yet hands them out to VirtualAlloc and so to every heap: what
    // VirtualQuery calls free is not what is left. So every block
    // VirtualAlloc still gives is taken, down to its granularity, and then
    // blocks are given back, the largest first, until `leaveFree` is free
    // again. Committed, not only reserved, as a game's own data would be;
    // never touched, so it costs no RAM.
    for (std::size_t block = kLargestBlock; block >= kSmallestBlock && blocks_.size() < blocks_.capacity();
         block /= 2) {
        while (blocks_.size() < blocks_.capacity()) {
            void* taken = VirtualAlloc(nullptr, block, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            if (!taken) break;
            blocks_.push_back({taken, block});
            held_ += block;
        }
    }
    std::stable_sort(blocks_.begin(), blocks_.end(),
                     [](const Block& a, const Block& b) { return a.size > b.size; });
    std::size_t given = 0;
    for (std::size_t i = 0; i < blocks_.size() && given < leaveFree;) {
        if (blocks_[i].size > leaveFree - given && i + 1 < blocks_.size()) {
            ++i;  // a smaller one fits the rest better
            continue;
        }
        VirtualFree(blocks_[i].address, 0, MEM_RELEASE);
        given += blocks_[i].size;
        held_ -= blocks_[i].size;
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return given;
}

void AddressSpaceSqueeze::Release()
{
    for (const Block& block : blocks_) VirtualFree(block.address, 0, MEM_RELEASE);
    blocks_.clear();
    held_ = 0;
}

}  // namespace Soak
