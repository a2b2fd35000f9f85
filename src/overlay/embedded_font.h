// The overlay's default font, embedded in the library in Dear ImGui's
// compressed-font format. The build makes it from a TrueType file of
// Debian's fonts (DejaVu Sans) with tools/font_compress.
#pragma once

struct EmbeddedFont {
    const unsigned char* compressed;
    unsigned int compressedSize;
    unsigned int originalSize;  // bytes of the TrueType file
    const char* fileName;       // the TrueType file it was made from
};

const EmbeddedFont& OverlayEmbeddedFont();
