#include "memory_models.h"

#include "map/group_table.h"
#include "renderer/render_group.h"

#include <assimp/scene.h>

#include "renderer/shading.h"

namespace TestSupport {

TarnRenderer::CMesh* MakeMemoryMesh(float x, float y, float z, float radius)
{
    // CMesh is built from a sub-mesh; an empty one leaves it blank.
    static aiMesh empty;
    static aiMesh* meshes[] = {&empty};
    aiScene scene;
    scene.mNumMeshes = 1;
    scene.mMeshes = meshes;
    auto* mesh = new TarnRenderer::CMesh(&scene, 0, TarnMath::CMatrix::Identity(), "", "", "memory", false);
    scene.mMeshes = nullptr;  // the scene does not own these
    scene.mNumMeshes = 0;
    mesh->positions = {x, y, z, x + 1, y, z, x, y + 1, z};
    mesh->normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    mesh->texCoords = {0, 0, 1, 0, 0, 1};
    mesh->colors = {255, 255, 255, 255, 255, 255, 255, 255, 255};
    mesh->indices = {0, 1, 2};
    mesh->vertexCount = 3;
    mesh->faceCount = 1;
    mesh->indexCount = 3;
    mesh->center[0] = x;
    mesh->center[1] = y;
    mesh->center[2] = z;
    mesh->radius = radius;
    mesh->buffers = new TarnRenderer::MeshBuffers{nullptr, nullptr, 3, 1, mesh};
    RebuildMeshBuffers(mesh->buffers);
    return mesh;
}

TarnRenderer::CModel* MakeMemoryModel(const std::string& name, float x, float y, float z, float radius,
                                      std::uint32_t textureFilter)
{
    TarnRenderer::ModelLoadParams params;
    params.path = "in-memory model " + name;
    params.textureFilter = textureFilter;
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel(params, true);
    model->meshes.push_back(MakeMemoryMesh(x, y, z, radius));
    model->center[0] = x;
    model->center[1] = y;
    model->center[2] = z;
    model->radius = radius;
    return model;
}

void ReleaseRenderGroups(std::vector<RenderGroup*>& groups)
{
    for (RenderGroup* group : groups) {
        for (GroupMember* member : group->members) {
            if (member->model) TarnRenderer::ReleaseReference(member->model);
            delete member;
        }
        if (group->lod) TarnRenderer::ReleaseReference(group->lod);
        delete group;
    }
    groups.clear();
    InvalidateGroupTable();
}

}  // namespace TestSupport
