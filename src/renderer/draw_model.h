// Drawing primitives on the host's device: a model with its draw settings,
// or one pair of buffers, with the device state a mesh draw needs set up
// once a pass and again whenever a value it depends on changes. Drawn with
// the fixed-function pipeline, or through the host's world effect when the
// plug-in uses the host's shaders. Render thread only.
#pragma once

#include <d3d9.h>

#include <cstdint>

#include "renderer/draw_settings.h"

namespace TarnRenderer {
class CModel;
}

// Nothing for a null model or one still loading; shading changes rebuild
// the model's buffers first, and a mesh lacking device objects the device
// refused has them made again (renderer/remake.h). Counts ModelsDrawn and
// MeshesDrawn.
void DrawModel(TarnRenderer::CModel* model, const DrawSettings& settings);
void DrawMeshBuffers(IDirect3DVertexBuffer9* vertexBuffer, IDirect3DIndexBuffer9* indexBuffer,
                     std::uint32_t vertexCount, std::uint32_t triangleCount, IDirect3DBaseTexture9* texture,
                     const D3DMATRIX& world);
void SetupDrawState();

// The state the draws read: the camera the render pass captured, the
// collision display's wireframe and depth switches, the filter of the model
// being drawn, and a request to set the whole state up again.
extern D3DMATRIX CapturedView;
extern D3DMATRIX CapturedProjection;
extern bool CollisionDisplayMode;
extern int DepthTestEnabled;
extern bool ForceStateSetup;
extern int CurrentTextureFilter;
