#include "scene_scan.h"

#include <assimp/scene.h>

#include <cstdint>
#include <set>

namespace MapChecker {
namespace {

std::string SubMeshName(const aiScene* scene, unsigned index)
{
    std::string name = "sub-mesh " + std::to_string(index);
    const char* own = scene->mMeshes[index]->mName.C_Str();
    if (own && *own) name += std::string(" \"") + own + "\"";
    return name;
}

// The sub-meshes the node walk reaches, in the order it meets them.
void CollectReached(const aiScene* scene, const aiNode* node, std::vector<unsigned>& reached)
{
    if (!node) return;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        if (node->mMeshes[i] < scene->mNumMeshes) reached.push_back(node->mMeshes[i]);
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) CollectReached(scene, node->mChildren[i], reached);
}

unsigned FacesOutOfRange(const aiMesh& sub)
{
    unsigned bad = 0;
    for (unsigned f = 0; f < sub.mNumFaces; ++f) {
        const aiFace& face = sub.mFaces[f];
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            if (face.mIndices[k] >= sub.mNumVertices) {
                ++bad;
                break;
            }
        }
    }
    return bad;
}

// A number in the scene's metadata, whichever type the reader stored it as.
double MetadataNumber(const aiMetadata* data, const char* key)
{
    if (!data) return 0;
    for (unsigned i = 0; i < data->mNumProperties; ++i) {
        if (std::string(data->mKeys[i].C_Str()) != key || !data->mValues[i].mData) continue;
        const void* value = data->mValues[i].mData;
        switch (data->mValues[i].mType) {
        case AI_FLOAT: return *static_cast<const float*>(value);
        case AI_DOUBLE: return *static_cast<const double*>(value);
        case AI_INT32: return *static_cast<const std::int32_t*>(value);
        case AI_UINT64: return static_cast<double>(*static_cast<const std::uint64_t*>(value));
        default: return 0;
        }
    }
    return 0;
}

}  // namespace

SceneScan ScanImportedScene(const aiScene* scene)
{
    SceneScan scan;
    if (scene) scan.unitScaleFactor = MetadataNumber(scene->mMetaData, "UnitScaleFactor");
    if (!scene || !scene->mMeshes) return scan;
    std::vector<unsigned> reached;
    CollectReached(scene, scene->mRootNode, reached);
    std::set<unsigned> seen;
    for (unsigned index : reached) {
        if (!seen.insert(index).second) continue;
        const aiMesh* sub = scene->mMeshes[index];
        if (!sub || sub->mNumVertices == 0 || sub->mNumFaces == 0) continue;
        if (!sub->HasNormals()) scan.withoutNormals.push_back(SubMeshName(scene, index));
        if (unsigned bad = FacesOutOfRange(*sub)) scan.outOfRange.emplace_back(SubMeshName(scene, index), bad);
    }
    return scan;
}

}  // namespace MapChecker
