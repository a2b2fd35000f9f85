// Map loading: turns the declared map models into render groups, loading
// only the LOD models (synchronously) and presenting a loading-screen frame
// before each model file. Runs once, on the render thread, outside any
// host scene.
#pragma once

#include <string>

#include "maprender/render_group.h"
#include "math/matrix.h"

// From the map's model space to the host's world: the second axis mirrored,
// then MapOffset added. Zero until it is set, once, before LoadMap.
extern TarnMath::CMatrix MapTransform;

// Sets MapTransform's rows (1, 0, 0), (0, -1, 0), (0, 0, 1) and MapOffset
// for the current options, leaving the fourth column as it is.
void SetMapTransform();

void LoadMap();

// A group whose first member is the given part, appended to RenderGroups;
// its LOD (when named) is imported now.
RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath);
