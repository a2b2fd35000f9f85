// The font compressor against Dear ImGui's own decompressor: whatever it
// packs, AddFontFromMemoryCompressedTTF unpacks to the same bytes (every
// token kind and length limit is reached by the inputs below); and the font
// embedded in the plug-in is the TrueType file it was made from, with the
// same glyph metrics.
#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "font_compress/stb_compress.h"
#include "overlay/embedded_font.h"
#include "test_files.h"

namespace {

using Bytes = std::vector<unsigned char>;

// What Dear ImGui's decompressor makes of a compressed stream.
Bytes DecompressWithImGui(const Bytes& packed)
{
    ImFontAtlas atlas;
    atlas.AddFontFromMemoryCompressedTTF(packed.data(), static_cast<int>(packed.size()), 13.0f);
    const ImFontConfig& config = atlas.ConfigData.back();
    const auto* data = static_cast<const unsigned char*>(config.FontData);
    return Bytes(data, data + config.FontDataSize);
}

Bytes RoundTrip(const Bytes& input)
{
    return DecompressWithImGui(FontCompress::Compress(input.data(), input.size()));
}

Bytes Random(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<unsigned char>(generator());
    return bytes;
}

// Random bytes in which the first `length` bytes come again `distance`
// bytes later: one match of exactly that length at exactly that distance.
Bytes Echo(std::size_t distance, std::size_t length, unsigned seed)
{
    Bytes bytes = Random(distance + length + 20, seed);
    std::copy(bytes.begin(), bytes.begin() + length, bytes.begin() + distance);
    return bytes;
}

TEST(FontCompression, EveryKindOfInputComesBackUnchanged)
{
    struct Case {
        std::string name;
        Bytes input;
    };
    std::vector<Case> cases = {
        {"one byte", {42}},
        {"two bytes", {1, 2}},
        {"random 32", Random(32, 1)},
        {"random 33", Random(33, 2)},
        {"random 2048", Random(2048, 3)},
        {"random 2049", Random(2049, 4)},
        {"random 65536", Random(65536, 5)},
        {"random 200000", Random(200000, 6)},  // literal runs split across tokens
        {"run of 1000000", Bytes(1000000, 7)},  // overlapping matches at distance 1, split at 65536
        // Each token kind at the edges of its distance and length fields.
        {"near and short", Echo(256, 128, 8)},
        {"near but longer", Echo(256, 129, 9)},
        {"just beyond near", Echo(257, 100, 10)},
        {"middle distance", Echo(16384, 256, 11)},
        {"beyond the middle", Echo(16385, 256, 12)},
        {"middle, long", Echo(16385, 65536, 13)},
        {"middle, longer than a token", Echo(20000, 70000, 14)},
        {"far edge", Echo(524288, 256, 15)},
        {"very far, short", Echo(524289, 256, 16)},
        {"very far, long", Echo(600000, 65536, 17)},
        {"very far, longer than a token", Echo(600000, 70000, 18)},
    };
    // Matches of lengths around the token limits, between random literals.
    for (std::size_t length : {3, 4, 128, 129, 256, 257, 65536, 65537}) {
        Bytes bytes = Random(300, static_cast<unsigned>(length));
        const Bytes head(bytes.begin(), bytes.begin() + 100);
        for (std::size_t i = 0; i < length; ++i) bytes.push_back(head[i % head.size()]);
        Bytes tail = Random(50, 99);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        cases.push_back({"match of " + std::to_string(length), bytes});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes packed = FontCompress::Compress(c.input.data(), c.input.size());
        EXPECT_EQ(DecompressWithImGui(packed), c.input);
    }
}

TEST(FontCompression, StreamHasTheHeaderLengthAndAdler32Trailer)
{
    const std::string text = "Wikipedia";
    const Bytes packed = FontCompress::Compress(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    ASSERT_GE(packed.size(), 22u);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 12), (Bytes{0x57, 0xBC, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}));
    // Adler-32 of "Wikipedia" is 0x11E60398.
    EXPECT_EQ(Bytes(packed.end() - 6, packed.end()), (Bytes{0x05, 0xFA, 0x11, 0xE6, 0x03, 0x98}));
    EXPECT_EQ(FontCompress::Adler32(reinterpret_cast<const unsigned char*>(text.data()), text.size()), 0x11E60398u);
    // Long inputs reduce the sums modulo 65521 on the way.
    const Bytes ones(100000, 0xFF);
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : ones) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(FontCompress::Adler32(ones.data(), ones.size()), (b << 16) | a);
}

TEST(FontCompression, TheEmbeddedFontIsTheTrueTypeFileItWasMadeFrom)
{
    const EmbeddedFont& embedded = OverlayEmbeddedFont();
    EXPECT_STREQ(embedded.fileName, "DejaVuSans.ttf");
    const std::string file = TestSupport::ReadFile(VORNAK_OVERLAY_FONT_FILE);
    ASSERT_FALSE(file.empty()) << VORNAK_OVERLAY_FONT_FILE;
    EXPECT_EQ(embedded.originalSize, file.size());
    EXPECT_LT(embedded.compressedSize, file.size() * 7 / 10);  // it does compress

    const Bytes packed(embedded.compressed, embedded.compressed + embedded.compressedSize);
    const Bytes unpacked = DecompressWithImGui(packed);
    ASSERT_EQ(unpacked.size(), file.size());
    EXPECT_EQ(std::memcmp(unpacked.data(), file.data(), file.size()), 0);
}

TEST(FontCompression, TheEmbeddedFontHasTheFilesGlyphMetricsAt64Pixels)
{
    const EmbeddedFont& embedded = OverlayEmbeddedFont();
    std::string file = TestSupport::ReadFile(VORNAK_OVERLAY_FONT_FILE);
    ASSERT_FALSE(file.empty());

    ImFontAtlas fromEmbedded, fromFile;
    ImFont* packed = fromEmbedded.AddFontFromMemoryCompressedTTF(
        embedded.compressed, static_cast<int>(embedded.compressedSize), 64.0f);
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    ImFont* plain = fromFile.AddFontFromMemoryTTF(file.data(), static_cast<int>(file.size()), 64.0f, &config);
    ASSERT_TRUE(fromEmbedded.Build());
    ASSERT_TRUE(fromFile.Build());

    EXPECT_EQ(packed->FontSize, 64.0f);
    EXPECT_GT(packed->Glyphs.Size, 180);  // Basic Latin and Latin-1
    EXPECT_EQ(packed->Glyphs.Size, plain->Glyphs.Size);
    EXPECT_EQ(packed->Ascent, plain->Ascent);
    EXPECT_EQ(packed->Descent, plain->Descent);
    for (ImWchar c : {ImWchar('A'), ImWchar('g'), ImWchar('W'), ImWchar('0'), ImWchar('.'), ImWchar(0xE9)}) {
        SCOPED_TRACE(c);
        const ImFontGlyph* a = packed->FindGlyphNoFallback(c);
        const ImFontGlyph* b = plain->FindGlyphNoFallback(c);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(a->AdvanceX, b->AdvanceX);
        EXPECT_EQ(a->X0, b->X0);
        EXPECT_EQ(a->Y0, b->Y0);
        EXPECT_EQ(a->X1, b->X1);
        EXPECT_EQ(a->Y1, b->Y1);
    }
    // A proportional font: 'W' is more than twice as wide as 'i'.
    EXPECT_GT(packed->FindGlyph('W')->AdvanceX, 2 * packed->FindGlyph('i')->AdvanceX);
}

}  // namespace
