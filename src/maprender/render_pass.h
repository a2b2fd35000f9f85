// The per-frame render pass: draws the map's groups into the host's frame
// with the host's device, saving and restoring the host's whole device
// state around it. Also resolves the default collision surface, switches a
// host routine per frame and loads the host's sky once when asked to.
// Render thread only.
#pragma once

#include <d3d9.h>

#include <cstdint>

#include "maprender/draw_settings.h"

namespace TarnRenderer {
class CModel;
}

void RenderMap();
void ProcessPendingReleases();
void DrawRenderGroups();
void DrawModel(TarnRenderer::CModel* model, const DrawSettings& settings);
void DrawMeshBuffers(IDirect3DVertexBuffer9* vertexBuffer, IDirect3DIndexBuffer9* indexBuffer,
                     std::uint32_t vertexCount, std::uint32_t triangleCount, IDirect3DBaseTexture9* texture,
                     const D3DMATRIX& world);
void SetupDrawState();

// Render-pass state read by other parts and by tests.
extern D3DMATRIX CapturedView;
extern D3DMATRIX CapturedProjection;
extern bool CollisionDisplayMode;
extern int DepthTestEnabled;
extern bool ForceStateSetup;
extern int CurrentTextureFilter;
extern bool SkyPending;

inline constexpr const char* kSkyResource = "FRONTEND\\PLATFORMS\\NextGenSky.BIN";
