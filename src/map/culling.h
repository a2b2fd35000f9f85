// Per-frame culling and levels of detail: which groups show their members
// (in range) and which their LOD, and which meshes are visible, from
// bounding spheres against the host camera's position and direction.
#pragma once

#include "renderer/render_group.h"

namespace TarnRenderer {
class CModel;
}

struct CullParams {
    float cameraPosition[3];   // in model-file coordinates
    float cameraDirection[3];  // unit forward vector
    float DrawDistance;
    float LODDistance;
    bool AggressiveCulling;
    bool SmartCulling;
};

// The parameters of this frame from the host camera and the options.
CullParams MakeCullParams();

void UpdateVisibility();
bool IsModelInRange(TarnRenderer::CModel* model, CullParams params, bool lod);
void CullModelMeshes(TarnRenderer::CModel* model, CullParams params);
// Starts the member's asynchronous import when it has no model yet.
void RequestMemberModel(GroupMember* member);
