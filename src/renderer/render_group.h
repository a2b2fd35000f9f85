// The map's drawing records: one RenderGroup per declared model, with its
// member slots (filled on demand by the render pass) and its LOD model.
// Built once by map loading, never freed; render thread only.
#pragma once

#include <string>
#include <vector>

#include "renderer/draw_settings.h"

namespace TarnRenderer {
class CModel;
}

struct GroupMember {
    TarnRenderer::CModel* model = nullptr;  // null until the render pass requests it
    std::string path;
    std::string texturePath;
    int textureFilter = 2;  // D3DTEXF_LINEAR
};

struct RenderGroup {
    std::vector<GroupMember*> members;  // owned; main model first
    TarnRenderer::CModel* lod = nullptr;
    bool inRange = true;                 // members drawn this frame, else the LOD
    double outOfRangeSeconds = 0.0;
    DrawSettings settings;
};

extern std::vector<RenderGroup*> RenderGroups;
