// A game that has already taken most of its 32-bit address space: blocks of
// address space reserved and committed (64 MB, then halves down to 64 KB)
// until only a chosen amount is left, so that no heap, allocator, decoder
// or thread stack of the process can grow beyond it; released again on
// request. What is left is measured by what VirtualAlloc still hands out:
// every block it gives is taken, then blocks are given back until the
// amount is free again. Beside it, the user range as VirtualQuery reports
// it (free, reserved, committed, images, mapped), for the record.
#pragma once

#include <cstddef>
#include <vector>

namespace Soak {

struct AddressSpaceFree {
    std::size_t total = 0;    // bytes in free regions
    std::size_t largest = 0;  // the largest free region
    // The rest of the range: committed private memory (heaps, stacks in
    // use, the squeeze's blocks), reserved and not committed, images
    // (executables and DLLs), mapped files and sections.
    std::size_t committedPrivate = 0, reserved = 0, images = 0, mapped = 0;
};

// Walks the user address range now.
AddressSpaceFree MeasureFreeAddressSpace();

class AddressSpaceSqueeze {
public:
    AddressSpaceSqueeze() = default;
    ~AddressSpaceSqueeze() { Release(); }
    AddressSpaceSqueeze(const AddressSpaceSqueeze&) = delete;
    AddressSpaceSqueeze& operator=(const AddressSpaceSqueeze&) = delete;

    // Takes every block VirtualAlloc gives, then gives back blocks, the
    // largest first, until `leaveFree` bytes are free again (or nothing is
    // held). Returns the bytes given back: what is left for the process,
    // beside holes smaller than 64 KB.
    std::size_t Squeeze(std::size_t leaveFree);
    // Gives every block back.
    void Release();

    std::size_t Held() const { return held_; }
    std::size_t Blocks() const { return blocks_.size(); }

private:
    struct Block {
        void* address;
        std::size_t size;
    };
    std::vector<Block> blocks_;
    std::size_t held_ = 0;
};

}  // namespace Soak
