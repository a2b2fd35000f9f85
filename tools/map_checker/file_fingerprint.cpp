#include "file_fingerprint.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace MapChecker {
namespace {

std::string SizeAndTime(const WIN32_FILE_ATTRIBUTE_DATA& data)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lu:%lu:%lu:%lu", data.nFileSizeHigh, data.nFileSizeLow,
                  data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return text;
}

// A 64-bit hash of the content, eight bytes a step: not for adversaries,
// only to tell an edited file from the one imported before.
class ContentHash {
public:
    void Add(const unsigned char* bytes, std::size_t count)
    {
        length_ += count;
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            Mix(word);
        }
        // Only the last block of a file is not a multiple of eight bytes.
        if (i < count) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + i, count - i);
            Mix(word);
        }
    }
    std::uint64_t Value() const
    {
        std::uint64_t h = hash_ ^ length_;
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }

private:
    void Mix(std::uint64_t word)
    {
        hash_ ^= word;
        hash_ *= 0x9E3779B97F4A7C15ull;
        hash_ ^= hash_ >> 29;
    }
    std::uint64_t hash_ = 0xCBF29CE484222325ull;
    std::uint64_t length_ = 0;
};

}  // namespace

std::string FileSignature(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? SizeAndTime(data) : std::string();
}

std::string FileFingerprint(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "absent";
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "directory";
    const std::string signature = SizeAndTime(data);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return signature + ":unreadable";
    ContentHash hash;
    // One block per thread for every file: most files are small, and a
    // fresh megabyte for each would cost more than reading them.
    thread_local std::vector<unsigned char> block(1 << 20);  // a multiple of eight
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) && got > 0) {
        hash.Add(block.data(), got);
    }
    CloseHandle(file);
    if (!ok) return signature + ":unreadable";
    char text[24];
    std::snprintf(text, sizeof text, ":%016llx", static_cast<unsigned long long>(hash.Value()));
    return signature + text;
}

}  // namespace MapChecker
