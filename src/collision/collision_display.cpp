#include "collision/collision_display.h"

#include <cmath>
#include <cstdint>

#include "base/host_view.h"
#include "collision/collision_world.h"
#include "renderer/draw_model.h"
#include "renderer/draw_settings.h"
#include "renderer/model.h"

namespace {

constexpr std::uint32_t kCollisionModelColor = 0xFF7FFFFF;
constexpr std::uint32_t kBarrierColor = 0xFF0000FF;  // opaque blue
constexpr DWORD kDynamicUsage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;

IDirect3DVertexBuffer9* DebugVertexBuffer = nullptr;
IDirect3DIndexBuffer9* DebugIndexBuffer = nullptr;

bool CreateDebugBuffers(IDirect3DDevice9* device)
{
    if (!DebugVertexBuffer &&
        FAILED(device->CreateVertexBuffer(3 * sizeof(MapVertex), kDynamicUsage, kMapVertexFvf, D3DPOOL_DEFAULT,
                                          &DebugVertexBuffer, nullptr))) {
        DebugVertexBuffer = nullptr;
    }
    if (!DebugIndexBuffer &&
        FAILED(device->CreateIndexBuffer(3 * sizeof(std::uint32_t), kDynamicUsage, D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                         &DebugIndexBuffer, nullptr))) {
        DebugIndexBuffer = nullptr;
    }
    return DebugVertexBuffer && DebugIndexBuffer;
}

// The normal of the triangle's plane; (1, 0, 0) when it has none.
void TriangleNormal(const float a[3], const float b[3], const float c[3], float n[3])
{
    const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0f)) {
        n[0] = 1.0f;
        n[1] = n[2] = 0.0f;
        return;
    }
    for (int k = 0; k < 3; ++k) n[k] /= length;
}

}  // namespace

void DrawDebugTriangle(const float a[3], const float b[3], const float c[3])
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device || !CreateDebugBuffers(device)) return;

    // A lock that succeeds is always undone, also when it gave no memory.
    void* vertexBytes = nullptr;
    if (FAILED(DebugVertexBuffer->Lock(0, 0, &vertexBytes, D3DLOCK_DISCARD))) return;
    void* indexBytes = nullptr;
    if (FAILED(DebugIndexBuffer->Lock(0, 0, &indexBytes, D3DLOCK_DISCARD))) {
        DebugVertexBuffer->Unlock();
        return;
    }
    if (!vertexBytes || !indexBytes) {
        DebugVertexBuffer->Unlock();
        DebugIndexBuffer->Unlock();
        return;
    }
    float normal[3];
    TriangleNormal(a, b, c, normal);
    auto* vertices = static_cast<MapVertex*>(vertexBytes);
    const float* corners[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        MapVertex& vertex = vertices[i];
        for (int k = 0; k < 3; ++k) {
            vertex.position[k] = corners[i][k];
            vertex.normal[k] = normal[k];
        }
        vertex.diffuse = kBarrierColor;
        vertex.texCoord[0] = vertex.texCoord[1] = 0.0f;
    }
    auto* indices = static_cast<std::uint32_t*>(indexBytes);
    for (std::uint32_t i = 0; i < 3; ++i) indices[i] = i;
    DebugVertexBuffer->Unlock();
    DebugIndexBuffer->Unlock();

    // Map space is the drawing space with its second axis mirrored.
    D3DMATRIX world{};
    world._11 = 1.0f;
    world._22 = -1.0f;
    world._33 = 1.0f;
    world._44 = 1.0f;
    DrawMeshBuffers(DebugVertexBuffer, DebugIndexBuffer, 3, 1, nullptr, world);
}

void ReleaseDebugTriangleBuffers()
{
    if (DebugVertexBuffer) DebugVertexBuffer->Release();
    if (DebugIndexBuffer) DebugIndexBuffer->Release();
    DebugVertexBuffer = nullptr;
    DebugIndexBuffer = nullptr;
}

void DrawCollisionDisplay()
{
    // The map's drawing state comes back however the display ends: a draw
    // that throws must not leave every later frame in wireframe without a
    // depth test.
    struct DisplayState {
        DisplayState()
        {
            CollisionDisplayMode = true;
            DepthTestEnabled = 0;
        }
        ~DisplayState()
        {
            CollisionDisplayMode = false;
            DepthTestEnabled = 1;
        }
    } displayState;

    DrawSettings settings;
    settings.Transform = MapTransform;
    for (auto& row : settings.Transform.m) row[1] = -row[1];
    settings.Shading.ColorOverride = kCollisionModelColor;
    for (TarnRenderer::CModel* model : BulletCol::CollisionModels) {
        if (model) DrawModel(model, settings);
    }

    for (const BulletCol::CollisionMeshRecord& record : BulletCol::CollisionMeshRecords) {
        for (const BulletCol::BarrierSegment& segment : record.barriers) {
            // Host vector order (h0, h1, h2) is the map point (h2, h0, h1).
            const float bottom[3] = {segment.bottom[2], segment.bottom[0], segment.bottom[1]};
            const float top[3] = {segment.top[2], segment.top[0], segment.top[1]};
            const float aboveBottom[3] = {bottom[0], bottom[1], top[2]};
            const float belowTop[3] = {top[0], top[1], bottom[2]};
            DrawDebugTriangle(bottom, aboveBottom, top);
            DrawDebugTriangle(bottom, belowTop, top);
        }
    }
}
