// A mesh: every imported sub-mesh of one model file that uses one texture
// file, merged into one set of arrays and drawn with one vertex buffer, one
// index buffer and one texture. Owned by exactly one CModel.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/matrix.h"
#include "base/retry_policy.h"
#include "renderer/draw_settings.h"

struct aiScene;
struct aiMaterial;

namespace TarnRenderer {

class CTexture;
class CMesh;

struct MeshBuffers {
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;  // null until built and after a device loss
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    std::uint32_t vertexCount = 0;  // the mesh's counts when the record was made: the draw call's counts
    std::uint32_t faceCount = 0;
    CMesh* mesh = nullptr;
};

class CMesh {
public:
    // Resolves the texture file and appends sub-mesh `index` of `scene`.
    CMesh(const aiScene* scene, unsigned index, TarnMath::CMatrix transform, const std::string& modelDirectory,
          const std::string& texturePath, const std::string& modelPath, bool raw);
    virtual ~CMesh();
    CMesh(const CMesh&) = delete;
    CMesh& operator=(const CMesh&) = delete;

    // A mesh has geometry when it has both positions and indices.
    bool HasGeometry() const { return !positions.empty() && !indices.empty(); }

    // Appends one more sub-mesh and recomputes the bounds over the whole mesh.
    void AppendSubMesh(const aiScene* scene, unsigned index, const TarnMath::CMatrix& transform, bool raw);

    // What drawing reads for every mesh every frame comes first, so that it
    // shares a cache line.
    MeshBuffers* buffers = nullptr;
    CTexture* texture = nullptr;  // one reference
    bool visible = true;
    float center[3] = {0, 0, 0};
    float radius = 0;
    ShadingSettings shading = CurrentShadingSettings;
    std::uint32_t vertexCount = 0;
    std::uint32_t indexCount = 0;
    std::uint32_t faceCount = 0;
    std::vector<float> positions;       // 3 per vertex, map model space
    std::vector<std::uint32_t> indices; // 3 per face, offset into this mesh
    std::vector<float> normals;         // 3 per vertex, as in the file
    std::vector<float> texCoords;       // 2 per vertex
    std::vector<std::uint8_t> colors;   // 3 per vertex (r, g, b)
    std::string modelPath;
    std::string textureFile;            // resolved texture path or "NULL"; the merge key
    std::string surfaceName;            // never filled by mesh building
    float boundsMin[3] = {0, 0, 0};
    float boundsMax[3] = {0, 0, 0};
    void* collisionData = nullptr;
    void (*collisionDataRelease)(void*) = nullptr;
    // Tries at making again the buffers the device refused (renderer/remake.h);
    // render thread only.
    Retry::State remakeRetry;
};

// The texture file of a sub-mesh: `texturePath` when given, else the model
// directory plus the material's texture name, else "NULL".
std::string ResolveMeshTexture(const aiScene* scene, unsigned index, const std::string& modelDirectory,
                               const std::string& texturePath);

// The texture file name a material names (directory dropped), if any.
std::optional<std::string> FindMaterialTextureName(const aiMaterial* material);

// Centre and radius (0.55 x the diagonal) of a box, as meshes and models use them.
void BoxCenterAndRadius(const float boundsMin[3], const float boundsMax[3], float center[3], float& radius);

}  // namespace TarnRenderer
