#include "renderer/shading.h"

#include <d3d9.h>

#include <cmath>
#include <cstring>

#include "base/host_view.h"
#include "config/options.h"
#include "renderer/mesh.h"

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

namespace {

// The colour of a vertex under one rebuild's settings. Everything that does
// not depend on the vertex is worked out once here, so the per-vertex work
// is the sun term alone; the arithmetic and its order are those of the
// per-vertex formula, so every colour comes out bit for bit the same.
class VertexColorBaker {
public:
    VertexColorBaker(const ShadingSettings& shading, float colorScale, bool shade) : shade_(shade)
    {
        const std::uint32_t override = shading.ColorOverride;
        for (int k = 0; k < 3; ++k) {
            const int shift = 16 - 8 * k;
            for (int value = 0; value < 256; ++value) {
                const int source = override != 0 ? int((override >> shift) & 0xFF) : value;
                // In range of int32: a channel times a scale of at most 1.
                base_[k][value] = static_cast<std::int32_t>(static_cast<float>(source) * colorScale);
                baseAsDouble_[k][value] = static_cast<double>(base_[k][value]);
            }
            sunScale_[k] = static_cast<double>(shading.SunColor[k]) / 255.0;
            shadow_[k] = static_cast<double>(shading.ShadowColor[k]);
            light_[k] = shading.LightDir[k];
        }
        multiplier_ = shading.ShadingMultiplier;
        offset_ = 1.0f - multiplier_;
    }

    std::uint32_t operator()(const std::uint8_t color[3], const float normal[3]) const
    {
        return shade_ ? Shaded(color, normal) : Plain(color);
    }

    std::uint32_t Plain(const std::uint8_t color[3]) const
    {
        return 0xFF000000u | (std::uint32_t(base_[0][color[0]]) << 16) | (std::uint32_t(base_[1][color[1]]) << 8) |
               std::uint32_t(base_[2][color[2]]);
    }

    std::uint32_t Shaded(const std::uint8_t color[3], const float normal[3]) const
    {
        const float f = (normal[0] * light_[0] + normal[1] * light_[1] + normal[2] * light_[2]) * multiplier_ + offset_;
        return 0xFF000000u | (Channel(0, f, color[0]) << 16) | (Channel(1, f, color[1]) << 8) | Channel(2, f, color[2]);
    }

private:
    std::uint32_t Channel(int k, float f, std::uint8_t value) const
    {
        double x = sunScale_[k] * f * baseAsDouble_[k][value] + shadow_[k];
        // Written so that they compile to maxsd and minsd: below 0.001, and
        // NaN from odd option values, become 0.001; above 254.99, 254.99.
        x = x > 0.001 ? x : 0.001;
        x = x < 254.99 ? x : 254.99;
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(x));
    }

    bool shade_;
    std::int32_t base_[3][256];
    double baseAsDouble_[3][256];
    double sunScale_[3];
    double shadow_[3];
    float light_[3];
    float multiplier_;
    float offset_;
};

// Writes the mesh's vertices as MapVertex records, the diffuse colour of
// each from `colorOf(colour, normal)`. Raw pointers, so that the writes to
// the buffer are not taken to change the mesh's arrays.
template <class ColorOf>
void FillVertices(const TarnRenderer::CMesh& mesh, MapVertex* __restrict vertices, ColorOf colorOf)
{
    const float* positions = mesh.positions.data();
    const float* normals = mesh.normals.data();
    const float* texCoords = mesh.texCoords.data();
    const std::uint8_t* colors = mesh.colors.data();
    const std::uint32_t count = mesh.vertexCount;
    for (std::uint32_t i = 0; i < count; ++i) {
        MapVertex& vertex = vertices[i];
        std::memcpy(vertex.position, positions + 3 * i, sizeof(vertex.position));
        std::memcpy(vertex.normal, normals + 3 * i, sizeof(vertex.normal));
        vertex.diffuse = colorOf(colors + 3 * i, normals + 3 * i);
        vertex.texCoord[0] = texCoords[2 * i];
        vertex.texCoord[1] = -texCoords[2 * i + 1];
    }
}

}  // namespace

std::uint32_t ShadeVertexColor(const ShadingSettings& shading, const std::uint8_t color[3], const float normal[3],
                               float colorScale, bool shade)
{
    return VertexColorBaker(shading, colorScale, shade)(color, normal);
}

void BakeMeshVertices(const TarnRenderer::CMesh& mesh, MapVertex* vertices)
{
    const float colorScale = Config::UseHostShaders ? 0.5f : 1.0f;
    const bool shade = mesh.shading.ShadingEnabled && !Config::UseHostShaders;
    const VertexColorBaker bakeColor(mesh.shading, colorScale, shade);
    if (shade) {
        FillVertices(mesh, vertices,
                     [&](const std::uint8_t* color, const float* normal) { return bakeColor.Shaded(color, normal); });
    } else {
        FillVertices(mesh, vertices, [&](const std::uint8_t* color, const float*) { return bakeColor.Plain(color); });
    }
}

namespace {

void DropMeshBuffers(TarnRenderer::MeshBuffers* buffers)
{
    if (buffers->vertexBuffer) buffers->vertexBuffer->Release();
    if (buffers->indexBuffer) buffers->indexBuffer->Release();
    buffers->vertexBuffer = nullptr;
    buffers->indexBuffer = nullptr;
}

}  // namespace

void RebuildMeshBuffers(TarnRenderer::MeshBuffers* buffers)
{
    if (!buffers || !buffers->mesh) return;
    TarnRenderer::CMesh& mesh = *buffers->mesh;
    DropMeshBuffers(buffers);

    IDirect3DDevice9* device = HostGame::Device();
    if (!device || mesh.vertexCount == 0 || mesh.indexCount == 0) return;
    const DWORD usage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
    // Half a pair cannot be drawn: a failure gives back what was made.
    if (FAILED(device->CreateVertexBuffer(mesh.vertexCount * sizeof(MapVertex), usage, kMapVertexFvf,
                                          D3DPOOL_DEFAULT, &buffers->vertexBuffer, nullptr)) ||
        !buffers->vertexBuffer ||
        FAILED(device->CreateIndexBuffer(mesh.indexCount * 4, usage, D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                         &buffers->indexBuffer, nullptr)) ||
        !buffers->indexBuffer) {
        DropMeshBuffers(buffers);
        return;
    }
    // A lock that succeeds is always undone, also when it gave no memory.
    void* vertexData = nullptr;
    void* indexData = nullptr;
    const bool vertexLocked = SUCCEEDED(buffers->vertexBuffer->Lock(0, 0, &vertexData, D3DLOCK_DISCARD));
    const bool indexLocked = vertexLocked && SUCCEEDED(buffers->indexBuffer->Lock(0, 0, &indexData, D3DLOCK_DISCARD));
    if (!indexLocked || !vertexData || !indexData) {
        if (vertexLocked) buffers->vertexBuffer->Unlock();
        if (indexLocked) buffers->indexBuffer->Unlock();
        DropMeshBuffers(buffers);
        return;
    }

    BakeMeshVertices(mesh, static_cast<MapVertex*>(vertexData));
    std::memcpy(indexData, mesh.indices.data(), std::size_t(mesh.indexCount) * 4);
    buffers->vertexBuffer->Unlock();
    buffers->indexBuffer->Unlock();
}
