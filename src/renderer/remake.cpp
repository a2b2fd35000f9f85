#include "renderer/remake.h"

#include <mutex>
#include <new>

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
    if (!TakeTry()) return;
    bool made = false;
    try {
        if (!mesh->buffers) mesh->buffers = new MeshBuffers{nullptr, nullptr, mesh->vertexCount, mesh->faceCount, mesh};
        if (!mesh->texture && !model->skipRenderData) mesh->texture = AcquireTexture(mesh->textureFile.c_str());
        RebuildMeshBuffers(mesh->buffers);
        made = mesh->buffers->vertexBuffer && mesh->buffers->indexBuffer;
        if (made) ++RemakeCounters.meshes;
        if (TextureRefused(*mesh)) made = RemakeTexture(mesh->texture) && made;
    } catch (const std::bad_alloc&) {
        made = false;  // tried again after the back-off, as any failure
    }
    Tried(made);
}

void RemakeMeshTexture(CMesh* mesh)
{
    if (!TakeTry()) return;
    bool made = false;
    try {
        made = RemakeTexture(mesh->texture);
    } catch (const std::bad_alloc&) {
    }
    Tried(made);
}

}  // namespace TarnRenderer
