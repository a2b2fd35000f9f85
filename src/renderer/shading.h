// Baked shading: a group's sun values derived once at load time, and the
// building of a mesh's vertex and index buffers with its colours baked in.
#pragma once

#include "renderer/draw_settings.h"

namespace TarnRenderer {
struct MeshBuffers;
class CMesh;
}

// Writes the shading fields of `settings`: shading on, the multiplier, the
// light direction (direction through the transform's 3x3, normalised; (1, 0,
// 0) when zero) and the sun and shadow colours scaled by their factors.
void SetupGroupShading(DrawSettings& settings, const float direction[3], float sunFactor, float shadowFactor,
                       float multiplier, const float sunColor[3], const float shadowColor[3]);

// Writes the mesh's vertexCount vertices as RebuildMeshBuffers puts them
// into its vertex buffer (colours baked from the mesh's shading). Needs no
// device: an import's worker bakes into memory with it.
void BakeMeshVertices(const TarnRenderer::CMesh& mesh, MapVertex* vertices);

// Recreates and fills the mesh's buffers in the default pool on the host's
// device. On any failure the mesh is left without buffers, none half made or
// left locked.
void RebuildMeshBuffers(TarnRenderer::MeshBuffers* buffers);

// The diffuse colour of one vertex: base colour scaled by `colorScale`,
// then the sun term when `shade` is set.
std::uint32_t ShadeVertexColor(const ShadingSettings& shading, const std::uint8_t color[3], const float normal[3],
                               float colorScale, bool shade);
