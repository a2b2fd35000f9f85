#include "renderer/mesh.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <cstring>
#include <functional>

#include "renderer/fatal_error.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"

namespace TarnRenderer {
namespace {

// Sub-meshes smaller than this are converted on the calling thread: for
// them starting seven tasks costs more than the work.
constexpr unsigned kParallelVertexCount = 32768;

const char* const kMaterialTextureKeys[] = {
    "$tex.file",
    "$raw.3dsMax|params|DiffuseMap_1|file",
    "$raw.3dsMax|params|BlendLayerMap_1|file",
};

// The low 8 bits of a value truncated toward zero; values no integer can
// hold give 0 instead of undefined behaviour.
std::uint8_t TruncatedLowByte(float value)
{
    if (!(std::fabs(value) < 2147483648.0f)) return 0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(value));
}

// Room for `size` elements. Exactly that much for the first sub-mesh; an
// append grows the array by at least half again, so that merging many
// small sub-meshes copies each array a bounded number of times instead of
// once per sub-mesh.
template <typename T>
void ReserveForAppend(std::vector<T>& values, std::size_t size)
{
    if (size > values.capacity()) values.reserve(std::max(size, values.capacity() + values.capacity() / 2));
}

// Runs the jobs in order, on the pool when the sub-mesh is large, and
// returns when all are done. The jobs work on the caller's arrays: every
// job submitted is waited for before a failure (of a submission or of a
// job) leaves, and then the first failure is thrown.
template <std::size_t N>
void RunAll(bool parallel, std::function<void()> (&jobs)[N])
{
    if (!parallel) {
        for (auto& job : jobs) job();
        return;
    }
    TaskHandle handles[N];
    std::exception_ptr failure;
    try {
        for (std::size_t i = 0; i < N; ++i) handles[i] = TaskPool::Shared().Submit(jobs[i]);
    } catch (...) {
        failure = std::current_exception();
    }
    for (const TaskHandle& handle : handles) {
        try {
            handle.Wait();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

void BoxCenterAndRadius(const float boundsMin[3], const float boundsMax[3], float center[3], float& radius)
{
    float squared = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        center[axis] = (boundsMin[axis] + boundsMax[axis]) * 0.5f;
        float extent = boundsMax[axis] - boundsMin[axis];
        squared += extent * extent;
    }
    radius = static_cast<float>(0.55 * static_cast<double>(std::sqrt(squared)));
}

std::optional<std::string> FindMaterialTextureName(const aiMaterial* material)
{
    if (!material || !material->mProperties) return std::nullopt;
    for (const char* key : kMaterialTextureKeys) {
        for (unsigned i = 0; i < material->mNumProperties; ++i) {
            const aiMaterialProperty* property = material->mProperties[i];
            if (!property || std::strcmp(property->mKey.C_Str(), key) != 0) continue;
            // An Assimp string: 32-bit length, then the characters. A length
            // beyond the stored data is cut to what is there.
            if (!property->mData || property->mDataLength < 4) return std::string();
            std::uint32_t length = 0;
            std::memcpy(&length, property->mData, 4);
            length = std::min<std::uint32_t>(length, property->mDataLength - 4);
            std::string text(property->mData + 4, length);
            text = text.substr(0, text.find('\0'));
            std::size_t separator = text.find_last_of("/\\");
            return separator == std::string::npos ? text : text.substr(separator + 1);
        }
    }
    return std::nullopt;
}

std::string ResolveMeshTexture(const aiScene* scene, unsigned index, const std::string& modelDirectory,
                               const std::string& texturePath)
{
    if (!texturePath.empty()) return texturePath;
    const aiMesh* sub = scene->mMeshes[index];
    if (scene->mMaterials && scene->mNumMaterials > 0 && sub->mMaterialIndex < scene->mNumMaterials &&
        scene->mMaterials[sub->mMaterialIndex]) {
        if (auto name = FindMaterialTextureName(scene->mMaterials[sub->mMaterialIndex])) return modelDirectory + *name;
    }
    return "NULL";
}

CMesh::CMesh(const aiScene* scene, unsigned index, TarnMath::CMatrix transform, const std::string& modelDirectory,
             const std::string& texturePath, const std::string& path, bool raw)
    : modelPath(path), textureFile(ResolveMeshTexture(scene, index, modelDirectory, texturePath))
{
    AppendSubMesh(scene, index, transform, raw);
}

void CMesh::AppendSubMesh(const aiScene* scene, unsigned index, const TarnMath::CMatrix& transform, bool raw)
{
    const aiMesh* sub = scene->mMeshes[index];
    if (sub->mNumVertices == 0 || sub->mNumFaces == 0) return;
    // Checked before any worker starts, so that nothing runs on after it.
    if (!sub->HasNormals()) {
        RaiseFatalRendererError("Mesh with texture " + textureFile + " in file " + modelPath + " has no normals!!");
    }

    const std::uint32_t baseVertex = vertexCount;
    const unsigned count = sub->mNumVertices;
    vertexCount += count;
    faceCount += sub->mNumFaces;
    indexCount += 3 * sub->mNumFaces;
    const auto& m = transform.m;

    std::function<void()> attributes[] = {
        [&] {
            ReserveForAppend(positions, 3 * std::size_t(vertexCount));
            for (unsigned i = 0; i < count; ++i) {
                const aiVector3D& v = sub->mVertices[i];
                float x = m[0][0] * v.x + m[1][0] * v.y + m[2][0] * v.z + m[3][0];
                float y = m[0][1] * v.x + m[1][1] * v.y + m[2][1] * v.z + m[3][1];
                float z = m[0][2] * v.x + m[1][2] * v.y + m[2][2] * v.z + m[3][2];
                if (raw) {
                    positions.insert(positions.end(), {x, y, z});
                } else {
                    positions.insert(positions.end(), {x, -z, y});  // the file's Y-up to the map's Z-up
                }
            }
        },
        [&] {
            ReserveForAppend(indices, indexCount);
            for (unsigned f = 0; f < sub->mNumFaces; ++f) {
                const aiFace& face = sub->mFaces[f];
                bool triangle = face.mNumIndices == 3 && face.mIndices[0] < count && face.mIndices[1] < count &&
                                face.mIndices[2] < count;
                if (triangle) {
                    indices.insert(indices.end(), {face.mIndices[0] + baseVertex, face.mIndices[1] + baseVertex,
                                                   face.mIndices[2] + baseVertex});
                } else {
                    // Lines, points and faces pointing outside the sub-mesh
                    // become a degenerate triangle on the mesh's first vertex.
                    indices.insert(indices.end(), {0u, 0u, 0u});
                }
            }
        },
        [&] {
            ReserveForAppend(normals, 3 * std::size_t(vertexCount));
            for (unsigned i = 0; i < count; ++i) {
                const aiVector3D& n = sub->mNormals[i];
                normals.insert(normals.end(), {n.x, n.y, n.z});
            }
        },
        [&] {
            ReserveForAppend(texCoords, 2 * std::size_t(vertexCount));
            if (sub->HasTextureCoords(0)) {
                for (unsigned i = 0; i < count; ++i) {
                    texCoords.insert(texCoords.end(), {sub->mTextureCoords[0][i].x, sub->mTextureCoords[0][i].y});
                }
            } else {
                texCoords.insert(texCoords.end(), 2 * std::size_t(count), 0.0f);
            }
        },
        [&] {
            ReserveForAppend(colors, 3 * std::size_t(vertexCount));
            if (sub->HasVertexColors(0)) {
                for (unsigned i = 0; i < count; ++i) {
                    const aiColor4D& c = sub->mColors[0][i];
                    colors.insert(colors.end(), {TruncatedLowByte(c.r * 255.0f), TruncatedLowByte(c.g * 255.0f),
                                                 TruncatedLowByte(c.b * 255.0f)});
                }
            } else {
                colors.insert(colors.end(), 3 * std::size_t(count), std::uint8_t(255));
            }
        },
    };
    const bool parallel = count >= kParallelVertexCount;
    RunAll(parallel, attributes);

    // A scan of the whole array from its first vertex. The bounds of an
    // earlier append are that scan over the vertices before this sub-mesh,
    // so it goes on from them over the new vertices only: the same result
    // without rescanning the mesh on every append.
    const std::size_t firstNew = 3 * std::size_t(baseVertex);
    std::function<void()> bounds[] = {
        [&] {
            float low[3] = {positions[0], positions[1], positions[2]};
            if (baseVertex > 0) std::memcpy(low, boundsMin, sizeof(low));
            for (std::size_t i = firstNew; i < positions.size(); i += 3) {
                for (int axis = 0; axis < 3; ++axis) {
                    if (positions[i + axis] < low[axis]) low[axis] = positions[i + axis];
                }
            }
            std::memcpy(boundsMin, low, sizeof(low));
        },
        [&] {
            float high[3] = {positions[0], positions[1], positions[2]};
            if (baseVertex > 0) std::memcpy(high, boundsMax, sizeof(high));
            for (std::size_t i = firstNew; i < positions.size(); i += 3) {
                for (int axis = 0; axis < 3; ++axis) {
                    if (positions[i + axis] > high[axis]) high[axis] = positions[i + axis];
                }
            }
            std::memcpy(boundsMax, high, sizeof(high));
        },
    };
    RunAll(parallel, bounds);
    BoxCenterAndRadius(boundsMin, boundsMax, center, radius);
}

CMesh::~CMesh()
{
    if (buffers) {
        if (buffers->vertexBuffer) buffers->vertexBuffer->Release();
        if (buffers->indexBuffer) buffers->indexBuffer->Release();
        delete buffers;
    }
    if (texture) ReleaseReference(texture);
    if (collisionData && collisionDataRelease) collisionDataRelease(collisionData);
}

}  // namespace TarnRenderer
