// Decoding a texture file off the render thread. D3DX turns an image file
// into a texture in one call on the device: it decodes the file into the
// top level, filters the mip levels, then copies them to the device. The
// decoding and filtering need no device: done here with D3DX's own calls
// into surfaces in plain memory, they give the very bytes D3DX would put
// into the texture, and the render thread only copies them over, a band of
// rows at a time.
//
// Only the common case is decoded here: a 2D image whose size is a power of
// two, without mip levels of its own, whose pixel format D3DX keeps or widens
// to 32 bits (A8R8G8B8, X8R8G8B8, R8G8B8). Anything else is left to D3DX on
// the render thread, as before.
#pragma once

#include <d3d9.h>

#include <string>
#include <vector>

namespace TarnRenderer {

struct DecodedTexture {
    UINT width = 0, height = 0;
    D3DFORMAT imageFormat = D3DFMT_UNKNOWN;  // as the file has it: what D3DX checks the device for
    D3DFORMAT format = D3DFMT_UNKNOWN;       // of the levels below
    std::vector<std::vector<unsigned char>> levels;  // full mip chain, rows packed (4 bytes a pixel)
    UINT LevelWidth(UINT level) const { return width >> level ? width >> level : 1; }
    UINT LevelHeight(UINT level) const { return height >> level ? height >> level : 1; }
    UINT Pitch(UINT level) const { return LevelWidth(level) * 4; }
};

// Decodes `bytes` as D3DXCreateTextureFromFileInMemoryEx with the texture
// loader's arguments would fill a texture of `decoded.format`; false when
// the file is not of the common case (or not an image).
bool DecodeTextureFile(const std::string& bytes, DecodedTexture& decoded);

// Copies rows [row, row + rows) of `level` into the same rows of the
// system-memory texture `staging`, the device's copy of the decoded bytes
// a band at a time; false when the level could not be locked.
bool CopyDecodedRows(IDirect3DTexture9* staging, const DecodedTexture& decoded, UINT level, UINT row, UINT rows);

}  // namespace TarnRenderer
