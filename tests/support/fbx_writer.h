// FBX 7.4 files written from a node tree, in the text or the binary
// encoding, and the scene of one mesh as a modelling program exports it:
// its unit (UnitScaleFactor: centimetres per unit, 1 for a file in
// centimetres, 100 for one in metres) and Y up. Paths are Windows paths;
// writing throws std::runtime_error as TestSupport::WriteFile does.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "asset_writer.h"

namespace TestSupport {

using FbxValue = std::variant<std::int32_t, std::int64_t, double, std::string, std::vector<double>,
                              std::vector<std::int32_t>>;
struct FbxNode {
    std::string name;
    std::vector<FbxValue> values;
    std::vector<FbxNode> children;
};

// The top-level nodes as a file, text ("; FBX 7.4.0 project file") or binary.
void WriteFbx(const std::string& path, const std::vector<FbxNode>& nodes, bool binary);

// One mesh with its normals per polygon corner, its part's positions as
// given (in the file's unit), a model node and a material of the part's
// vertex colour; `unitScaleFactor` in GlobalSettings.
std::vector<FbxNode> FbxMeshScene(const MeshPart& part, double unitScaleFactor);

}  // namespace TestSupport
