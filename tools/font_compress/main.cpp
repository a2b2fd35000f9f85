// font_compress: turns a TrueType file into a C++ header holding it in
// Dear ImGui's compressed-font format, for AddFontFromMemoryCompressedTTF.
// Runs on the build machine.
//
//   font_compress INPUT.ttf OUTPUT.h
//
// The header defines kEmbeddedFontCompressed (the stream),
// kEmbeddedFontCompressedSize, kEmbeddedFontOriginalSize and
// kEmbeddedFontFileName. It is written to a temporary file first and renamed,
// so a failed run never leaves a partial header behind.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "font_compress/stb_compress.h"

namespace {

int Fail(const std::string& message)
{
    std::fprintf(stderr, "font_compress: %s\n", message.c_str());
    return 1;
}

std::string BaseName(const std::string& path)
{
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file name as a C string literal body (printable ASCII, others escaped).
std::string Escaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) return Fail("usage: font_compress INPUT.ttf OUTPUT.h");
    const std::string inputPath = argv[1], outputPath = argv[2];

    std::ifstream input(inputPath, std::ios::binary);
    if (!input) return Fail("cannot open " + inputPath);
    std::vector<unsigned char> font((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    if (input.bad()) return Fail("cannot read " + inputPath);
    if (font.empty()) return Fail(inputPath + " is empty");

    std::vector<unsigned char> packed;
    try {
        packed = FontCompress::Compress(font.data(), font.size());
    } catch (const std::exception& error) {
        return Fail(inputPath + ": " + error.what());
    }

    std::ostringstream text;
    text << "// Generated at build time by tools/font_compress from " << BaseName(inputPath) << ".\n"
         << "// Dear ImGui's compressed-font format; read with AddFontFromMemoryCompressedTTF.\n"
         << "#pragma once\n\n"
         << "static const char kEmbeddedFontFileName[] = \"" << Escaped(BaseName(inputPath)) << "\";\n"
         << "static const unsigned int kEmbeddedFontOriginalSize = " << font.size() << "u;\n"
         << "static const unsigned int kEmbeddedFontCompressedSize = " << packed.size() << "u;\n"
         << "alignas(4) static const unsigned char kEmbeddedFontCompressed[" << packed.size() << "] = {\n";
    static const char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const unsigned char b = packed[i];
        text << "0x" << kHex[b >> 4] << kHex[b & 15] << (i + 1 == packed.size() ? "" : ",");
        if (i % 24 == 23 || i + 1 == packed.size()) text << '\n';
    }
    text << "};\n";

    const std::string temporary = outputPath + ".tmp";
    {
        std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
        if (!output) return Fail("cannot create " + temporary);
        const std::string bytes = text.str();
        output.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        output.close();
        if (!output) {
            std::remove(temporary.c_str());
            return Fail("cannot write " + temporary);
        }
    }
    if (std::rename(temporary.c_str(), outputPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        return Fail("cannot rename " + temporary + " to " + outputPath);
    }
    std::printf("font_compress: %s, %zu bytes -> %zu bytes\n", BaseName(inputPath).c_str(), font.size(),
                packed.size());
    return 0;
}
