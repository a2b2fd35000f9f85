#include "texture_check.h"

#include <windows.h>

#include <d3dx9tex.h>

namespace MapChecker {
namespace {

bool PowerOfTwo(UINT value) { return value != 0 && (value & (value - 1)) == 0; }

UINT NextPowerOfTwo(UINT value)
{
    UINT result = 1;
    while (result < value && result < 0x80000000u) result <<= 1;
    return result;
}

// Bytes per pixel as D3DX creates the texture from this file format
// (24-bit files become 32-bit textures); block formats per 4 x 4 block / 16.
double BytesPerPixel(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_DXT1: return 0.5;
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
    case D3DFMT_L8:
    case D3DFMT_A8:
    case D3DFMT_P8: return 1;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8L8:
    case D3DFMT_L16: return 2;
    case D3DFMT_A16B16G16R16:
    case D3DFMT_A16B16G16R16F: return 8;
    case D3DFMT_A32B32G32R32F: return 16;
    default: return 4;
    }
}

std::string FormatName(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_R8G8B8: return "R8G8B8";
    case D3DFMT_A8R8G8B8: return "A8R8G8B8";
    case D3DFMT_X8R8G8B8: return "X8R8G8B8";
    case D3DFMT_R5G6B5: return "R5G6B5";
    case D3DFMT_DXT1: return "DXT1";
    case D3DFMT_DXT3: return "DXT3";
    case D3DFMT_DXT5: return "DXT5";
    case D3DFMT_L8: return "L8";
    case D3DFMT_P8: return "P8";
    default: return "format " + std::to_string(static_cast<unsigned>(format));
    }
}

}  // namespace

void CheckTexture(FileReport& report)
{
    DWORD attributes = GetFileAttributesA(report.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        report.findings.push_back({Severity::Warning, "texture-missing",
                                   "the texture file does not exist: its meshes are drawn untextured"});
        return;
    }
    D3DXIMAGE_INFO info{};
    HRESULT result = D3DXGetImageInfoFromFileA(report.path.c_str(), &info);
    if (FAILED(result)) {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(result));
        report.findings.push_back({Severity::Warning, "texture-unreadable",
                                   std::string("D3DX cannot read the image (") + code +
                                       "): its meshes are drawn untextured"});
        return;
    }
    const UINT width = NextPowerOfTwo(info.Width), height = NextPowerOfTwo(info.Height);
    if (!PowerOfTwo(info.Width) || !PowerOfTwo(info.Height)) {
        report.findings.push_back({Severity::Warning, "texture-not-power-of-two",
                                   std::to_string(info.Width) + " x " + std::to_string(info.Height) +
                                       " is not a power of two: the plug-in's loading stretches it to " +
                                       std::to_string(width) + " x " + std::to_string(height) +
                                       ", blurring it and using the memory of the larger size"});
    }
    TextureStats stats;
    stats.width = info.Width;
    stats.height = info.Height;
    stats.format = FormatName(info.Format);
    // A full mip chain adds a third to the top level.
    stats.estimatedBytes =
        static_cast<std::uint64_t>(double(width) * double(height) * BytesPerPixel(info.Format) * 4.0 / 3.0);
    report.texture = stats;
}

}  // namespace MapChecker
