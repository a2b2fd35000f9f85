// Settings files for comparing an INI reader with the platform's
// GetPrivateProfileStringA: random files assembled from the pieces that
// matter to a parser (section headers good and broken, keys in any letter
// case, quotes, white space, comments, every line end, high bytes, values
// around the platform's 256-byte buffer), the sections and keys worth asking
// about in them, and the platform's own answer. Shared by the tests and the
// soak run, so both compare the same kind of file.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace TestSupport {

// Key names the writer uses unless given others: letter-case variants,
// one with a space, and comment-looking ones.
extern const std::vector<std::string> kRandomIniKeysWritten;

// One file per seed and key list; the same seed always gives the same bytes.
// Keys are drawn from `keys` (kept by reference: it must outlive the writer).
class RandomIniWriter {
public:
    explicit RandomIniWriter(unsigned seed, const std::vector<std::string>& keys = kRandomIniKeysWritten)
        : random_(seed), keys_(keys)
    {
    }
    std::string File();

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool Chance(int percent) { return Pick(100) < percent; }
    std::string Space();
    std::string Section();
    std::string Key();
    std::string Value();
    std::string Line();

    std::mt19937 random_;
    const std::vector<std::string>& keys_;
};

// Sections to ask for: exact, other letter case, padded, another, none.
extern const std::vector<std::string> kIniSectionsAsked;
// Keys to ask for in random files: the writer's keys, comment-looking ones
// and one it never writes.
extern const std::vector<std::string> kRandomIniKeysAsked;

// What GetPrivateProfileStringA returns for the key with a 256-byte buffer
// and an empty default.
std::string PlatformIniValue(const std::string& path, const std::string& section, const std::string& key);

// The bytes with line ends, tabs, control and high bytes made visible, for
// messages.
std::string EscapeIniBytes(const std::string& bytes);

}  // namespace TestSupport
