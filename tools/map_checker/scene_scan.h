// What a scene Assimp hands the plug-in's mesh builder holds that the built
// meshes no longer show: the sub-meshes without normals (the builder's
// fatal error) and the faces whose indices point beyond their sub-mesh's
// vertices (the builder draws each as nothing), and the unit an FBX file
// declares (the import does not scale by it). Only sub-meshes the node
// walk reaches, with vertices and faces, count: the builder skips the rest.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct aiScene;

namespace MapChecker {

struct SceneScan {
    std::vector<std::string> withoutNormals;                    // "sub-mesh 2 \"name\"", in node-walk order
    std::vector<std::pair<std::string, unsigned>> outOfRange;  // sub-mesh, faces
    double unitScaleFactor = 0;  // the scene's "UnitScaleFactor" (Assimp's FBX reader sets it); 0 without
};

SceneScan ScanImportedScene(const aiScene* scene);

}  // namespace MapChecker
