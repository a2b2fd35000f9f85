// The records shared by renderer objects, map loading and drawing: how a
// model is placed and coloured, the inputs of the baked vertex colours, and
// the one vertex layout of every vertex buffer the plug-in creates.
#pragma once

#include <cstdint>

#include "base/matrix.h"

struct ShadingSettings {
    std::uint32_t ColorOverride = 0;  // A8R8G8B8; 0 = use the vertex colours
    std::uint8_t ShadingEnabled = 0;
    float ShadingMultiplier = 0.45f;
    float LightDir[3] = {0.85f, 1.25f, 0.05f};
    float SunColor[3] = {255.0f, 255.0f, 255.0f};
    float ShadowColor[3] = {39.0f, 48.0f, 68.0f};
};

struct DrawSettings {
    TarnMath::CMatrix Transform = TarnMath::CMatrix::Identity();
    float Scale[3] = {1.0f, 1.0f, 1.0f};
    // The same six fields, in the same order, as ShadingSettings.
    ShadingSettings Shading;
};

// Templates for new objects: a CModel copies CurrentDrawSettings, a CMesh
// CurrentShadingSettings. Map loading overwrites both after each group.
extern DrawSettings CurrentDrawSettings;
extern ShadingSettings CurrentShadingSettings;

// From the map's model space to the host's world: the second axis mirrored,
// then MapOffset added. Zero until map loading sets it, once, before it
// loads; the groups, the collision display and the barriers place the map
// with it.
extern TarnMath::CMatrix MapTransform;

// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1
inline constexpr std::uint32_t kMapVertexFvf = 0x152;

struct MapVertex {
    float position[3];
    float normal[3];
    std::uint32_t diffuse;  // A8R8G8B8
    float texCoord[2];
};
static_assert(sizeof(MapVertex) == 36, "MapVertex is 36 bytes without gaps");
