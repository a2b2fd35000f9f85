// The streaming flight with device resets in a 32-bit game that has
// already taken most of its address space: before the map loads, blocks of
// address space are reserved and committed until only a chosen amount is
// left free (soak/address_squeeze.h), so that every allocator of the
// process fails at once (the heaps, malloc in Assimp, Bullet and zlib,
// D3DX's decoders, the device's own memory, thread stacks); half-way
// through the flight the blocks are given back. The same flight without
// the squeeze is flown first as the measure, after one more unmeasured
// (the heaps' high-water mark reached).
//
// Pass: no crash (the process lives), no hang (a watchdog); from the first
// failure seen on, no frame of the plug-in (frame event and render entry)
// over the bound, loading screens never more than the retry policy's tries
// of the measure's map load; once the blocks are back, every model of the
// map imported and drawn with its buffers and textures; then the picture
// of one camera equal to the measure's, pixel for pixel, and the process's
// private bytes within the bound of the measure's at the same point.
//
// Runs on the calling thread, which plays the game's render thread. Needs a
// display (Xvfb under Wine) and the host's fixed address range.
#pragma once

#include <cstddef>
#include <string>

#include "soak_findings.h"

namespace Soak {

struct AddressSpaceSoakConfig {
    unsigned frames = 1500;
    unsigned groups = 8;
    unsigned memberScale = 1;          // the members' boxes times this: a map of larger models
    int width = 320, height = 240;
    float cameraStep = 1.5f;           // per frame, back and forth along the map
    unsigned resetEvery = 97;          // frames between resets of the game's own
    std::size_t leaveFreeMb = 400;     // address space left free by the squeeze
    double frameBoundMs = 50;          // the longest frame allowed once memory has run out
    double privateBoundMb = 2;         // private bytes above the measure's allowed at the end
};

struct AddressSpaceSoakFindings : SoakFindings {
    unsigned frames = 0;
    double freeLeftMb = 0, heldMb = 0;  // left for the process by the squeeze, and taken by it
    double freeBeforeMb = 0, queryFreeLeftMb = 0, largestLeftMb = 0;  // free as VirtualQuery sees it
    // The user range before the squeeze, beside the free part; and the free
    // part before the soak made its device.
    double imagesMb = 0, mappedMb = 0, privateCommittedMb = 0, reservedMb = 0, freeWithoutDeviceMb = 0;
    // Failures seen while squeezed, by kind.
    unsigned operatorNewFailed = 0;    // the module's operator new (the plug-in's and Assimp's)
    unsigned deviceRefused = 0;        // buffer, texture and state-block creations the device refused
    unsigned importsFailed = 0;        // imports out of memory (malloc in Assimp, D3DX, the heaps), models left empty
    unsigned mapLoadsFailed = 0;       // map loads out of memory, all taken back
    unsigned givenUp = 0;              // files and device objects given up after their last try
    unsigned resetsFailed = 0;         // resets of the game's that did not return D3D_OK
    unsigned firstFailureFrame = ~0u;  // the frame the first failure was seen in
    // What came back once the blocks were given back.
    unsigned meshesRemade = 0, texturesRemade = 0;
    unsigned modelsBack = 0, modelsNotBack = 0;      // models of the map imported with all their device objects
    unsigned loadingScreens[2] = {};   // frames the plug-in presented itself: measure, squeezed
    double worstMs[2] = {};            // worst plug-in frame: the measure's, the squeezed one's from the first failure
    unsigned worstFrame = 0;
    // Private bytes at the end, measure and squeezed: committed private
    // memory of the user range (VirtualQuery), what the plug-in, the game
    // and the Windows side of the driver hold. Beside it the process's
    // figure (PagefileUsage under Wine), which also counts the memory of
    // Wine's own side (the GL driver's), and swung by up to 15 MB between
    // two identical flights.
    double privateMb[2] = {};
    double processPrivateMb[2] = {};
    long differingPixels = -1, pixels = 0;
    double seconds = 0;
};

AddressSpaceSoakFindings RunAddressSpaceSoak(const AddressSpaceSoakConfig& config);

}  // namespace Soak
