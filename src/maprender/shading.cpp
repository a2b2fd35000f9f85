#include "maprender/shading.h"

#include <d3d9.h>

#include <cmath>
#include <cstring>

#include "config/options.h"
#include "renderer/mesh.h"
#include "startup/host_interface.h"

void SetupGroupShading(DrawSettings& settings, const float direction[3], float sunFactor, float shadowFactor,
                       float multiplier, const float sunColor[3], const float shadowColor[3])
{
    ShadingSettings& shading = settings.Shading;
    shading.ShadingEnabled = 1;
    shading.ShadingMultiplier = multiplier;
    const auto& T = settings.Transform.m;
    float v[3];
    for (int i = 0; i < 3; ++i) v[i] = T[i][0] * direction[0] + T[i][1] * direction[1] + T[i][2] * direction[2];
    float squared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    if (squared > 0.0f) {
        float length = std::sqrt(squared);
        for (int i = 0; i < 3; ++i) shading.LightDir[i] = v[i] / length;
    } else {
        shading.LightDir[0] = 1.0f;
        shading.LightDir[1] = v[1];
        shading.LightDir[2] = v[2];
    }
    for (int k = 0; k < 3; ++k) {
        shading.SunColor[k] = sunColor[k] * sunFactor;
        shading.ShadowColor[k] = shadowColor[k] * shadowFactor;
    }
}

std::uint32_t ShadeVertexColor(const ShadingSettings& shading, const std::uint8_t color[3], const float normal[3],
                               float colorScale, bool shade)
{
    std::uint32_t base[3];
    if (shading.ColorOverride != 0) {
        const std::uint32_t override = shading.ColorOverride;
        const std::uint32_t channels[3] = {(override >> 16) & 0xFF, (override >> 8) & 0xFF, override & 0xFF};
        for (int k = 0; k < 3; ++k) base[k] = static_cast<std::uint32_t>(channels[k] * colorScale);
    } else {
        for (int k = 0; k < 3; ++k) base[k] = static_cast<std::uint32_t>(color[k] * colorScale);
    }
    if (shade) {
        const float* L = shading.LightDir;
        const float m = shading.ShadingMultiplier;
        float f = (normal[0] * L[0] + normal[1] * L[1] + normal[2] * L[2]) * m + (1.0f - m);
        for (int k = 0; k < 3; ++k) {
            double x = (static_cast<double>(shading.SunColor[k]) / 255.0) * f * base[k] + shading.ShadowColor[k];
            if (x > 254.99) {
                x = 254.99;
            } else if (!(x >= 0.001)) {  // also catches NaN from odd option values
                x = 0.001;
            }
            base[k] = static_cast<std::uint32_t>(x);
        }
    }
    return 0xFF000000u | (base[0] << 16) | (base[1] << 8) | base[2];
}

void RebuildMeshBuffers(TarnRenderer::MeshBuffers* buffers)
{
    if (!buffers || !buffers->mesh) return;
    TarnRenderer::CMesh& mesh = *buffers->mesh;
    if (buffers->vertexBuffer) buffers->vertexBuffer->Release();
    if (buffers->indexBuffer) buffers->indexBuffer->Release();
    buffers->vertexBuffer = nullptr;
    buffers->indexBuffer = nullptr;

    IDirect3DDevice9* device = HostGame::Device();
    if (!device || mesh.vertexCount == 0 || mesh.indexCount == 0) return;
    const DWORD usage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
    if (FAILED(device->CreateVertexBuffer(mesh.vertexCount * sizeof(MapVertex), usage, kMapVertexFvf,
                                          D3DPOOL_DEFAULT, &buffers->vertexBuffer, nullptr))) {
        buffers->vertexBuffer = nullptr;
        return;
    }
    if (FAILED(device->CreateIndexBuffer(mesh.indexCount * 4, usage, D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                         &buffers->indexBuffer, nullptr))) {
        buffers->indexBuffer = nullptr;
        return;
    }
    void* vertexData = nullptr;
    void* indexData = nullptr;
    if (FAILED(buffers->vertexBuffer->Lock(0, 0, &vertexData, D3DLOCK_DISCARD))) {
        buffers->vertexBuffer->Release();
        buffers->vertexBuffer = nullptr;
        return;
    }
    if (FAILED(buffers->indexBuffer->Lock(0, 0, &indexData, D3DLOCK_DISCARD))) {
        buffers->vertexBuffer->Unlock();
        buffers->vertexBuffer->Release();
        buffers->indexBuffer->Release();
        buffers->vertexBuffer = nullptr;
        buffers->indexBuffer = nullptr;
        return;
    }

    const float colorScale = Config::UseHostShaders ? 0.5f : 1.0f;
    const bool shade = mesh.shading.ShadingEnabled && !Config::UseHostShaders;
    auto* vertices = static_cast<MapVertex*>(vertexData);
    // A local copy: the vertex writes below cannot alias it, so the
    // compiler keeps its per-rebuild terms out of the loop.
    const ShadingSettings shading = mesh.shading;
    for (std::uint32_t i = 0; i < mesh.vertexCount; ++i) {
        MapVertex& vertex = vertices[i];
        std::memcpy(vertex.position, &mesh.positions[3 * i], sizeof(vertex.position));
        std::memcpy(vertex.normal, &mesh.normals[3 * i], sizeof(vertex.normal));
        vertex.texCoord[0] = mesh.texCoords[2 * i];
        vertex.texCoord[1] = -mesh.texCoords[2 * i + 1];
        vertex.diffuse = ShadeVertexColor(shading, &mesh.colors[3 * i], vertex.normal, colorScale, shade);
    }
    std::memcpy(indexData, mesh.indices.data(), std::size_t(mesh.indexCount) * 4);
    buffers->vertexBuffer->Unlock();
    buffers->indexBuffer->Unlock();
}
