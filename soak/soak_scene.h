// Model and texture files the soak runs load: boxes of a chosen count laid
// out in a grid, textured with files in every format the plug-in reads.
#pragma once

#include <string>

namespace Soak {

// Writes an OBJ (and its MTL) of `boxes` boxes of 1 x 1 x 1 in a square
// grid centred at (x, y, z), every box textured with `textureFile`
// (relative to the OBJ's directory).
void WriteBoxField(const std::string& objPath, unsigned boxes, float x, float y, float z,
                   const std::string& textureFile);

// Writes a 16 x 16 texture named `name` into `directory` in the format its
// extension names (.bmp, .tga, .png or .dds), a checkerboard of a colour
// derived from `seed`.
void WriteSoakTexture(const std::string& directory, const std::string& name, unsigned seed);

}  // namespace Soak
