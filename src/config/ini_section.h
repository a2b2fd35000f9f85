// One section of an INI file, parsed once and answered from memory.
//
// Every answer equals what GetPrivateProfileStringA(section, key, "", buf,
// 256, path) returns for the same file: the same line splitting, trimming,
// case-insensitive matching (first matching section, first matching key),
// quote stripping, 255-character cut and code-page conversion. The file is
// read once; the platform function would open and scan it for every key.
//
// Memory: the file is mapped, not copied; only the section asked for is
// kept, only keys accepted by the optional filter are stored, and a stored
// value keeps just the characters an answer can contain.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Config {

class IniSection {
public:
    // Decides from a key name (lower-case ASCII or wide text) whether the
    // key can ever be asked for; keys it rejects are not stored.
    using KeyFilter = std::function<bool(std::wstring_view lowerName)>;

    IniSection() = default;

    // Parses `path` (a platform path in the ANSI code page) and keeps the
    // first section whose name matches `section`. A missing, unreadable or
    // empty file gives an empty section.
    static IniSection Load(const std::string& path, std::string_view section,
                           const KeyFilter& filter = {});

    // The value as GetPrivateProfileStringA with a 256-byte buffer returns
    // it; empty when the key is absent, has no '=' or has an empty value.
    std::string Get(std::string_view key) const;

    std::size_t KeyCount() const { return values_.size(); }
    // The stored key names, in lower case.
    std::vector<std::wstring> KeyNames() const;

    // What a stored key keeps of its value: enough to answer exactly.
    struct StoredValue {
        std::wstring head;    // first characters of the value, up to the first NUL
        std::size_t length;   // its length up to the first NUL (beyond 4096 bytes, a bound)
        wchar_t last;         // its last character (quote matching)
        bool hasValue;        // false for a key line without '='
    };


private:
    std::unordered_map<std::wstring, StoredValue> values_;

    friend class IniSectionParser;
};

}  // namespace Config
