#include "renderer/remake.h"

#include <mutex>
#include <new>

#include "base/retry_policy.h"
#include "renderer/model.h"
#include "renderer/shading.h"
#include "renderer/texture.h"

namespace TarnRenderer {

RemakeTotals RemakeCounters;

namespace {

unsigned Frame = 0;
unsigned NextTryFrame = 0;
bool TriedThisFrame = false;

// Takes this frame's try; false when it is spent or a failure is waited out.
bool TakeTry()
{
    if (TriedThisFrame || Frame < NextTryFrame) return false;
    TriedThisFrame = true;
    ++RemakeCounters.tries;
    return true;
}

void Tried(bool made)
{
    if (!made) NextTryFrame = Frame + kRemakeBackOffFrames;
}

// Loads a refused texture again through its cache entry, as a request of it would.
bool RemakeTexture(CTexture* texture)
{
    std::lock_guard<std::mutex> cache(TextureCacheLock);
    std::lock_guard<std::mutex> lock(texture->objectLock);
    texture->Load();
    return texture->resource && texture->resource->texture;
}

}  // namespace

void NextRemakeFrame()
{
    ++Frame;
    TriedThisFrame = false;
}

bool TextureRefused(const CMesh& mesh)
{
    const CTexture* texture = mesh.texture;
    return texture && texture->resource && !texture->resource->texture && texture->resource->refused;
}

void RemakeMeshObjects(CModel* model, CMesh* mesh)
{
    if (!Retry::Due(mesh->remakeRetry) || !TakeTry()) return;
    bool buffersMade = false, textureMade = true;
    try {
        if (!mesh->buffers) mesh->buffers = new MeshBuffers{nullptr, nullptr, mesh->vertexCount, mesh->faceCount, mesh};
        if (!mesh->texture && !model->skipRenderData) mesh->texture = AcquireTexture(mesh->textureFile.c_str());
        RebuildMeshBuffers(mesh->buffers);
        buffersMade = mesh->buffers->vertexBuffer && mesh->buffers->indexBuffer;
        if (buffersMade) ++RemakeCounters.meshes;
        if (TextureRefused(*mesh)) textureMade = RemakeTexture(mesh->texture);
    } catch (const std::bad_alloc&) {
        // a failed try as any other
    }
    Retry::Settle(mesh->remakeRetry, buffersMade, model->path);
    Tried(buffersMade && textureMade);
}

void RemakeMeshTexture(CMesh* mesh)
{
    // A texture given up, or waiting out its pause, costs no try.
    if (!Retry::Due(mesh->texture->resource->retry) || !TakeTry()) return;
    bool made = false;
    try {
        made = RemakeTexture(mesh->texture);
    } catch (const std::bad_alloc&) {
    }
    Tried(made);
}

}  // namespace TarnRenderer
