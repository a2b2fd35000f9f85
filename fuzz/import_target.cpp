// libFuzzer target: one model file, read from memory by Assimp with the
// plug-in's import flags, then walked the way the renderer builds its meshes
// (src/renderer/model.cpp, src/renderer/mesh.cpp). Compiled once per reader
// with FUZZ_EXTENSION set to the file extension Assimp is given as its hint,
// and FUZZ_IMPORT_FLAGS taken from model.cpp by scripts/run-fuzz.sh.
//
// Every value the renderer would read is read here too, so that AddressSanitizer
// sees a read beyond an array the reader declared shorter than it is. A scene
// that breaks Assimp's own rules (a face index beyond its mesh's vertices, a
// channel without data) aborts with a message: the post-processing steps and
// the renderer both trust those rules.

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef FUZZ_EXTENSION
#error "FUZZ_EXTENSION must name the reader's file extension, e.g. obj"
#endif
#ifndef FUZZ_IMPORT_FLAGS
#error "FUZZ_IMPORT_FLAGS must be the plug-in's import flags"
#endif

namespace {

volatile float Sink;
volatile unsigned SinkIndex;

[[noreturn]] void Broken(const char* what, unsigned mesh)
{
    std::fprintf(stderr, "import_target: %s (mesh %u)\n", what, mesh);
    std::abort();
}

void Touch(const aiVector3D& v) { Sink = v.x + v.y + v.z; }
void Touch(const aiColor4D& c) { Sink = c.r + c.g + c.b + c.a; }

void WalkMesh(const aiMesh* mesh, unsigned index)
{
    if (!mesh) Broken("null mesh", index);
    const unsigned count = mesh->mNumVertices;
    if (count == 0 || mesh->mNumFaces == 0) return;  // the renderer skips it
    if (!mesh->mVertices) Broken("vertices declared but no array", index);
    if (!mesh->mFaces) Broken("faces declared but no array", index);
    for (unsigned i = 0; i < count; ++i) Touch(mesh->mVertices[i]);
    if (mesh->mNormals) {
        for (unsigned i = 0; i < count; ++i) Touch(mesh->mNormals[i]);
    }
    if (mesh->mTangents) {
        for (unsigned i = 0; i < count; ++i) Touch(mesh->mTangents[i]);
    }
    if (mesh->mBitangents) {
        for (unsigned i = 0; i < count; ++i) Touch(mesh->mBitangents[i]);
    }
    for (unsigned c = 0; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c) {
        if (!mesh->mTextureCoords[c]) continue;
        if (mesh->mNumUVComponents[c] > 3) Broken("texture coordinates with more than 3 components", index);
        for (unsigned i = 0; i < count; ++i) Touch(mesh->mTextureCoords[c][i]);
    }
    for (unsigned c = 0; c < AI_MAX_NUMBER_OF_COLOR_SETS; ++c) {
        if (!mesh->mColors[c]) continue;
        for (unsigned i = 0; i < count; ++i) Touch(mesh->mColors[c][i]);
    }
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices > 0 && !face.mIndices) Broken("face with indices declared but no array", index);
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            SinkIndex = face.mIndices[k];
            if (face.mIndices[k] >= count) Broken("face index beyond the mesh's vertices", index);
        }
    }
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
        const aiBone* bone = mesh->mBones[b];
        if (!bone) continue;
        for (unsigned w = 0; w < bone->mNumWeights; ++w) {
            Sink = bone->mWeights[w].mWeight;
            if (bone->mWeights[w].mVertexId >= count) Broken("bone weight beyond the mesh's vertices", index);
        }
    }
}

// What FindMaterialTextureName reads: every property's key and data.
void WalkMaterial(const aiMaterial* material)
{
    if (!material || !material->mProperties) return;
    for (unsigned i = 0; i < material->mNumProperties; ++i) {
        const aiMaterialProperty* property = material->mProperties[i];
        if (!property) continue;
        SinkIndex = static_cast<unsigned>(std::strlen(property->mKey.C_Str()));
        unsigned sum = 0;
        for (unsigned k = 0; k < property->mDataLength; ++k) sum += static_cast<unsigned char>(property->mData[k]);
        SinkIndex = sum;
    }
}

// As ProcessNode: the node's matrix, its mesh indices, then its children.
void WalkNode(const aiScene* scene, const aiNode* node)
{
    if (!node) return;
    const aiMatrix4x4& a = node->mTransformation;
    Sink = a.a1 + a.b2 + a.c3 + a.d4 + a.a4 + a.b4 + a.c4;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) SinkIndex = node->mMeshes[i];  // the meshes were walked already
    for (unsigned i = 0; i < node->mNumChildren; ++i) WalkNode(scene, node->mChildren[i]);
}

// IMPORT_TARGET_VERBOSE=1 reports what each input gave, for checking seeds.
bool Verbose()
{
    static const bool verbose = std::getenv("IMPORT_TARGET_VERBOSE") != nullptr;
    return verbose;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Assimp::Importer importer;
    try {
        const aiScene* scene = importer.ReadFileFromMemory(data, size, FUZZ_IMPORT_FLAGS, FUZZ_EXTENSION);
        if (Verbose()) {
            if (scene) {
                std::fprintf(stderr, "import_target: %u meshes, first has %u vertices\n", scene->mNumMeshes,
                             scene->mNumMeshes && scene->mMeshes ? scene->mMeshes[0]->mNumVertices : 0u);
            } else {
                std::fprintf(stderr, "import_target: no scene: %s\n", importer.GetErrorString());
            }
        }
        if (!scene || !scene->mMeshes || scene->mNumMeshes == 0) return 0;
        for (unsigned i = 0; i < scene->mNumMeshes; ++i) WalkMesh(scene->mMeshes[i], i);
        if (scene->mMaterials) {
            for (unsigned i = 0; i < scene->mNumMaterials; ++i) WalkMaterial(scene->mMaterials[i]);
        }
        WalkNode(scene, scene->mRootNode);
    } catch (...) {
        // The plug-in catches whatever an import throws and leaves the model empty.
    }
    return 0;
}
