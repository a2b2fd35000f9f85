// A program that meets a sub-mesh without normals with the renderer's own
// fatal error handling: the message box, then the end of the process.
#include <assimp/scene.h>

#include "renderer/mesh.h"

int main()
{
    aiMesh* sub = new aiMesh;
    sub->mNumVertices = 3;
    sub->mVertices = new aiVector3D[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    sub->mNumFaces = 1;
    sub->mFaces = new aiFace[1];
    sub->mFaces[0].mNumIndices = 3;
    sub->mFaces[0].mIndices = new unsigned[3]{0, 1, 2};
    aiScene scene;
    scene.mNumMeshes = 1;
    scene.mMeshes = new aiMesh*[1]{sub};
    TarnRenderer::CMesh mesh(&scene, 0, TarnMath::CMatrix::Identity(), "", "probe.dds", "maps\\probe.obj", false);
    return 3;  // never reached: the handler ends the process with exit code 0
}
