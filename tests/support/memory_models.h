// Models and meshes made in memory with given bounds, for tests and
// benchmarks of culling and drawing that need no files; the render groups
// tests leave behind.
#pragma once

#include <string>

#include "renderer/model.h"
#include "renderer/render_group.h"

namespace TestSupport {

// A mesh of one triangle at (x, y, z) with the given bounding sphere; its
// buffers are built on the current host device (none without a device).
TarnRenderer::CMesh* MakeMemoryMesh(float x, float y, float z, float radius);

// A new cached model (never shared: forceNew) holding one such mesh, with
// the same sphere as its bounds. The caller owns one reference.
TarnRenderer::CModel* MakeMemoryModel(const std::string& name, float x, float y, float z, float radius,
                                      std::uint32_t textureFilter = 2);

// Releases every render group of the list, its LOD and member models, and
// empties the list.
void ReleaseRenderGroups(std::vector<RenderGroup*>& groups = RenderGroups);

}  // namespace TestSupport
