#include "random_ini.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace TestSupport {

const std::vector<std::string> kRandomIniKeysWritten = {"Key", "key", "KEY", "Other", "Empty",
                                                        "A",   "a b", "k",   ";Key",  "#Other"};
const std::vector<std::string> kIniSectionsAsked = {"Options", "options", " OPTIONS\t", "Other", ""};
const std::vector<std::string> kRandomIniKeysAsked = {"Key", "KEY",  "Other",  "Empty",  "A",
                                                      "a b", "k",    ";Key",   "#Other", "Nope"};

std::string PlatformIniValue(const std::string& path, const std::string& section, const std::string& key)
{
    char buffer[256];
    // Not zeroed: a reader must match what the platform writes, not a
    // buffer that happened to be clean.
    std::memset(buffer, 0x55, sizeof(buffer));
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof(buffer), path.c_str());
    return buffer;
}

std::string EscapeIniBytes(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\n') out += "\\n\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

std::string RandomIniWriter::File()
{
    std::string out;
    if (Chance(10)) out += "\xEF\xBB\xBF";
    int endings = Pick(4);  // CR LF, LF, CR, mixed
    int lines = 1 + Pick(25);
    for (int i = 0; i < lines; ++i) {
        out += Line();
        int ending = endings == 3 ? Pick(3) : endings;
        if (i + 1 < lines || Chance(70)) out += ending == 0 ? "\r\n" : ending == 1 ? "\n" : "\r";
    }
    return out;
}

std::string RandomIniWriter::Space()
{
    static const char* spaces[] = {"", "", "", " ", "  ", "\t", " \t ", "\x0B"};
    return spaces[Pick(8)];
}

std::string RandomIniWriter::Section()
{
    static const char* names[] = {"Options", "options", "OPTIONS", " Options", "Other", "Opt]ions", "", "Options "};
    std::string header = Space() + "[" + names[Pick(8)] + (Chance(90) ? "]" : "") + Space();
    if (Chance(10)) header += "trail";
    return header;
}

std::string RandomIniWriter::Key()
{
    return keys_[static_cast<std::size_t>(Pick(static_cast<int>(keys_.size())))];
}

std::string RandomIniWriter::Value()
{
    static const std::string alphabet =
        std::string("abcXYZ0123456789 \t\"\"''==;;[]#.,-+") + "\xE9\x80\xA0\xFF\xC3\xA9\x1A";
    int length = Chance(8) ? 250 + Pick(60) : Pick(12);
    std::string value;
    for (int i = 0; i < length; ++i) value += alphabet[static_cast<std::size_t>(Pick(static_cast<int>(alphabet.size())))];
    if (Chance(15)) value = "\"" + value + "\"";
    else if (Chance(10)) value = "'" + value + "'";
    if (Chance(2)) value.insert(value.size() / 2, 1, '\0');
    return value;
}

std::string RandomIniWriter::Line()
{
    switch (Pick(10)) {
    case 0: return Section();
    case 1: return Space() + ";" + Value();
    case 2: return Space() + Key() + Space();
    case 3: return Space();
    default: return Space() + Key() + Space() + "=" + Space() + Value() + Space();
    }
}

}  // namespace TestSupport
