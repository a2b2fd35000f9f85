// The readers through which every setting and map declaration is read.
//
// All reads go to section "Options" (or the section given) of the file named
// by ConfigPath at the moment of the call. A key counts as set when its value
// is non-empty; an unset key leaves the caller's field alone. Numbers are
// converted like std::stoi / std::stof; a value that is not a number, or is
// out of range, leaves the field at its current value.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Config {

// Where values come from: the parsed-once cache, or the platform's
// GetPrivateProfileStringA per key. Both give the same answers.
class IniSource {
public:
    virtual ~IniSource() = default;
    // The value as a 256-byte GetPrivateProfileStringA call returns it.
    virtual std::string Read(const std::string& path, const char* section, const char* key) = 0;
    // The lower-case names of the keys in the section, when the source can
    // list them; nothing when every key has to be asked for.
    virtual std::optional<std::vector<std::wstring>> KeyNames(const std::string& path, const char* section)
    {
        (void)path, (void)section;
        return std::nullopt;
    }
    // Drops whatever the source keeps from files read so far.
    virtual void Forget() {}
};

std::unique_ptr<IniSource> MakeCachedIniSource();
std::unique_ptr<IniSource> MakePlatformIniSource();

// The source the readers use; the cached one unless replaced.
IniSource& ActiveIniSource();
// Replaces the source (benchmarks and tests); returns the previous one.
std::unique_ptr<IniSource> SetActiveIniSource(std::unique_ptr<IniSource> source);

// std::stoi / std::stof without exceptions: nothing when the text is not a
// number or the number does not fit.
std::optional<int> ParseIniInt(const std::string& text);
std::optional<float> ParseIniFloat(const std::string& text);

std::string MakeGamePath(const std::string& fileName);

void ReadIniBool(const char* key, bool& field);
void ReadIniFloat(const char* key, float& field);
// The value, or null when the key is not set. The string is the reader's
// own buffer, overwritten by the next call.
const std::string* ReadIniString(const char* key, const char* section = "Options");

// The key names of a section of ConfigPath, when the active source knows them.
std::optional<std::vector<std::wstring>> ListIniKeys(const char* section = "Options");

// Conversions of a string read; the field keeps its value when unset or invalid.
void ReadIniInt(const char* key, int& field);
void ReadIniIntAsBool(const char* key, bool& field);
void ReadIniStringAsFloat(const char* key, float& field);

// Drops everything the active source keeps from the files; called when
// start-up is done.
void DiscardIniCache();

extern std::string ConfigPath;

}  // namespace Config
