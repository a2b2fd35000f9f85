// Builds small Assimp scenes in memory, for tests of mesh building that
// need exact control over what the importer would hand over.
#pragma once

#include <assimp/material.h>
#include <assimp/scene.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class SceneBuilder {
public:
    SceneBuilder() : scene_(new aiScene) {}

    // Adds a sub-mesh; faces are lists of indices (3 for a triangle). Returns its index.
    unsigned AddMesh(const std::vector<aiVector3D>& positions, const std::vector<std::vector<unsigned>>& faces,
                     bool normals = true, const std::vector<aiVector3D>* texCoords = nullptr,
                     const std::vector<aiColor4D>* colors = nullptr, unsigned material = 0)
    {
        auto* mesh = new aiMesh;
        mesh->mNumVertices = static_cast<unsigned>(positions.size());
        mesh->mVertices = new aiVector3D[positions.size()];
        for (std::size_t i = 0; i < positions.size(); ++i) mesh->mVertices[i] = positions[i];
        if (normals) {
            mesh->mNormals = new aiVector3D[positions.size()];
            for (std::size_t i = 0; i < positions.size(); ++i) mesh->mNormals[i] = aiVector3D(0.1f * i, 0.5f, -0.25f);
        }
        if (texCoords) {
            mesh->mTextureCoords[0] = new aiVector3D[positions.size()];
            mesh->mNumUVComponents[0] = 2;
            for (std::size_t i = 0; i < positions.size(); ++i) mesh->mTextureCoords[0][i] = (*texCoords)[i];
        }
        if (colors) {
            mesh->mColors[0] = new aiColor4D[positions.size()];
            for (std::size_t i = 0; i < positions.size(); ++i) mesh->mColors[0][i] = (*colors)[i];
        }
        mesh->mNumFaces = static_cast<unsigned>(faces.size());
        mesh->mFaces = faces.empty() ? nullptr : new aiFace[faces.size()];
        for (std::size_t f = 0; f < faces.size(); ++f) {
            mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
            mesh->mFaces[f].mIndices = new unsigned[faces[f].size()];
            for (std::size_t k = 0; k < faces[f].size(); ++k) mesh->mFaces[f].mIndices[k] = faces[f][k];
        }
        mesh->mMaterialIndex = material;
        meshes_.push_back(mesh);
        Sync();
        return static_cast<unsigned>(meshes_.size() - 1);
    }

    // Adds a material with the given string properties (key, value). Returns its index.
    unsigned AddMaterial(std::initializer_list<std::pair<const char*, std::string>> properties)
    {
        auto* material = new aiMaterial;
        for (const auto& property : properties) {
            aiString value(property.second);
            material->AddProperty(&value, property.first, 0, 0);
        }
        materials_.push_back(material);
        Sync();
        return static_cast<unsigned>(materials_.size() - 1);
    }

    aiScene* Scene() { return scene_.get(); }

private:
    void Sync()
    {
        delete[] scene_->mMeshes;
        scene_->mNumMeshes = static_cast<unsigned>(meshes_.size());
        scene_->mMeshes = new aiMesh*[meshes_.size()];
        for (std::size_t i = 0; i < meshes_.size(); ++i) scene_->mMeshes[i] = meshes_[i];
        delete[] scene_->mMaterials;
        scene_->mNumMaterials = static_cast<unsigned>(materials_.size());
        scene_->mMaterials = materials_.empty() ? nullptr : new aiMaterial*[materials_.size()];
        for (std::size_t i = 0; i < materials_.size(); ++i) scene_->mMaterials[i] = materials_[i];
    }

    std::unique_ptr<aiScene> scene_;
    std::vector<aiMesh*> meshes_;
    std::vector<aiMaterial*> materials_;
};
