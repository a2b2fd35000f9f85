// Device objects a finished model's mesh should have and has not, because
// the device refused them when they were made (a buffer or a texture out of
// memory, a lock refused): made again when the mesh is next drawn, so that a
// model comes back whole once the device recovers, without waiting for a
// device reset. Each mesh's buffers and each texture get the tries and
// pauses of base/retry_policy.h, then are given up until the next device
// reset: a device that always refuses them costs a few tries, not a try
// every few frames for good. Across all meshes, at most one try a frame,
// and after a try that failed none for kRemakeBackOffFrames frames, so that
// a device out of memory costs one failing try now and then, not one per
// mesh per frame. Render thread only.
#pragma once

#include <atomic>

#include "renderer/mesh.h"

namespace TarnRenderer {

class CModel;

inline constexpr unsigned kRemakeBackOffFrames = 30;

// Once at the start of each render pass: this frame's try.
void NextRemakeFrame();

// Whether the mesh lacks buffers it should have: it has geometry and its
// model makes render data, but it has no drawable pair. For the draw.
inline bool MeshLacksBuffers(bool modelSkipsRenderData, const CMesh& mesh)
{
    if (mesh.vertexCount == 0 || mesh.indexCount == 0) return false;
    if (!mesh.buffers) return !modelSkipsRenderData;
    return !mesh.buffers->vertexBuffer || !mesh.buffers->indexBuffer;
}

// Makes what the mesh lacks (its buffers and record, its texture) when this
// frame's try is not spent and no failure is being waited out.
void RemakeMeshObjects(CModel* model, CMesh* mesh);
// The same for the mesh's texture alone: when the device refused it.
bool TextureRefused(const CMesh& mesh);
void RemakeMeshTexture(CMesh* mesh);

struct RemakeTotals {
    std::atomic<unsigned> tries{0};   // tries made, successful or not
    std::atomic<unsigned> meshes{0};  // meshes whose buffers were made again
};
extern RemakeTotals RemakeCounters;

}  // namespace TarnRenderer
