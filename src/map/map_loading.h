// Map loading: turns the declared map models into render groups, loading
// only the LOD models (synchronously) and presenting a loading-screen frame
// before each model file. Runs once, on the render thread, outside any
// host scene.
#pragma once

#include <string>

#include "base/matrix.h"
#include "renderer/draw_settings.h"
#include "renderer/render_group.h"

// Sets MapTransform's rows (1, 0, 0), (0, -1, 0), (0, 0, 1) and MapOffset
// for the current options, leaving the fourth column as it is.
void SetMapTransform();

void LoadMap();

// A group whose first member is the given part, appended to RenderGroups;
// its LOD (when named) is imported now.
RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath);
