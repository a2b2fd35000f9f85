// The address space the map needs at the worst point of a drive, as the
// plug-in loads it, and a warning when that is more than a player's game
// can spare.
//
// What is loaded where (map/group_walk.cpp): every LOD from the loading
// screen on; a group without a LOD asks for its main model and members in
// the first frame (a member not asked for yet counts as in range) and never
// gives them back, so all of them are loaded wherever the camera is; a group
// with a LOD has its main model and members loaded while the camera is
// within LODDistance of the LOD's bounding sphere (its centre plus its
// radius), and gives them back some seconds after leaving it. DrawDistance
// decides only what is drawn, not what is loaded. Which way the camera
// looks is left out (a car turns, and a group just behind it is still
// loaded); so are the seconds a group stays loaded after it left range.
// With DontUnloadCulledModels nothing is given back, and a drive that has
// passed every group holds all of them.
//
// The camera positions searched are the centres of the groups with a LOD
// (their LOD's sphere, and their main model's): the most groups come into
// range together near one of them on any map whose groups are not all far
// larger than LODDistance. A file or texture used by several loaded models
// counts once, as the plug-in shares them.
//
// A loaded model costs the arrays the plug-in keeps for it (measured in the
// import: positions, normals, texture coordinates, colours, indices), its
// vertex and index buffers (36-byte vertices, 32-bit indices, dynamic
// buffers the driver maps into the process to lock) and its textures (the
// power-of-two size with the full mip chain, 32 bits or the file's
// format); all counted in full against the address space. On top comes the
// plug-in's fixed use: its image (code and static data, most of it the
// overlay's static queues) and the collision world, from the collision
// files' counts (Bullet's 16-byte vertices, 32-bit indices, two 16-byte
// tree nodes and a 20-byte plane per triangle, 40 bytes per barrier
// segment). Not counted: the moments of streaming (a texture's decoded and
// staging copies), thread stacks, and what Assimp, D3DX and the driver use
// of their own.
#pragma once

#include "checked_map.h"
#include "config/options.h"

namespace MapChecker {

// The released plug-in's image of this version (SizeOfImage of the stripped
// VornakMapLoader.dll, 92,332,032 bytes, 80.7 MB of it .bss).
inline constexpr std::uint64_t kPluginImageBytes = 92332032ull;

// Above this the map's share of the game's address space warns: a 32-bit
// game has 2 GB, and the game's own code and data, its textures and sounds,
// the Direct3D runtime and the driver hold most of it, scattered so that
// large allocations fail well before the last byte.
inline constexpr std::uint64_t kAddressSpaceWarningBytes = 512ull * 1024 * 1024;

// Fills the worst point's figures into `totals` and warns on the map
// definition when they exceed kAddressSpaceWarningBytes.
void EstimateDriveMemory(CheckedMap& map, const Config::OptionsRecord& options,
                         const std::vector<const ModelStats*>& collisionFiles, Totals& totals);

}  // namespace MapChecker
