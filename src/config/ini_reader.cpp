#include "config/ini_reader.h"

#include <windows.h>

#include <map>
#include <stdexcept>
#include <utility>

#include "base/game_directory.h"
#include "config/config_keys.h"
#include "config/ini_section.h"

namespace Config {

std::string ConfigPath;

namespace {

constexpr DWORD kValueBufferSize = 256;

class PlatformIniSource final : public IniSource {
public:
    std::string Read(const std::string& path, const char* section, const char* key) override
    {
        char buffer[kValueBufferSize] = {};
        GetPrivateProfileStringA(section, key, "", buffer, kValueBufferSize, path.c_str());
        return buffer;
    }
};

// Keeps the sections parsed so far; a file is parsed once per section asked
// for (the system asks for one).
class CachedIniSource final : public IniSource {
public:
    std::string Read(const std::string& path, const char* section, const char* key) override
    {
        return Section(path, section).Get(key);
    }

    std::optional<std::vector<std::wstring>> KeyNames(const std::string& path, const char* section) override
    {
        return Section(path, section).KeyNames();
    }

    void Forget() override
    {
        last_ = nullptr;
        sections_.clear();
    }

private:
    const IniSection& Section(const std::string& path, const char* section)
    {
        // Start-up reads thousands of keys in a row from one section.
        if (last_ && last_->first.first == path && last_->first.second == section) return last_->second;
        auto slot = std::make_pair(path, std::string(section));
        auto found = sections_.find(slot);
        if (found == sections_.end()) {
            found = sections_.emplace(slot, IniSection::Load(path, section, IsSystemKey)).first;
        }
        last_ = &*found;
        return found->second;
    }

    const std::pair<const std::pair<std::string, std::string>, IniSection>* last_ = nullptr;

    std::map<std::pair<std::string, std::string>, IniSection> sections_;
};

std::unique_ptr<IniSource>& ActiveSlot()
{
    static std::unique_ptr<IniSource> source = MakeCachedIniSource();
    return source;
}

std::string ReadSet(const char* key, const char* section)
{
    return ActiveIniSource().Read(ConfigPath, section, key);
}

}  // namespace

std::unique_ptr<IniSource> MakeCachedIniSource() { return std::make_unique<CachedIniSource>(); }
std::unique_ptr<IniSource> MakePlatformIniSource() { return std::make_unique<PlatformIniSource>(); }

IniSource& ActiveIniSource() { return *ActiveSlot(); }

std::unique_ptr<IniSource> SetActiveIniSource(std::unique_ptr<IniSource> source)
{
    return std::exchange(ActiveSlot(), std::move(source));
}

void DiscardIniCache() { ActiveIniSource().Forget(); }

std::optional<int> ParseIniInt(const std::string& text)
{
    try {
        return std::stoi(text);
    } catch (const std::logic_error&) {  // invalid_argument, out_of_range
        return std::nullopt;
    }
}

std::optional<float> ParseIniFloat(const std::string& text)
{
    try {
        return std::stof(text);
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}

std::string MakeGamePath(const std::string& fileName)
{
    return std::string(Startup::GameDirectory) + "\\" + fileName;
}

const std::string* ReadIniString(const char* key, const char* section)
{
    static std::string result;
    std::string value = ReadSet(key, section);
    if (value.empty()) return nullptr;
    result = std::move(value);
    return &result;
}

void ReadIniBool(const char* key, bool& field)
{
    std::string value = ReadSet(key, "Options");
    if (value.empty()) return;
    if (auto number = ParseIniInt(value)) field = (*number != 0);
}

void ReadIniFloat(const char* key, float& field)
{
    std::string value = ReadSet(key, "Options");
    if (value.empty()) return;
    if (auto number = ParseIniFloat(value)) field = *number;
}

std::optional<std::vector<std::wstring>> ListIniKeys(const char* section)
{
    std::string path = ConfigPath;
    return ActiveIniSource().KeyNames(path, section);
}

void ReadIniInt(const char* key, int& field)
{
    if (const std::string* value = ReadIniString(key)) {
        if (auto number = ParseIniInt(*value)) field = *number;
    }
}

void ReadIniIntAsBool(const char* key, bool& field)
{
    if (const std::string* value = ReadIniString(key)) {
        if (auto number = ParseIniInt(*value)) field = (*number != 0);
    }
}

void ReadIniStringAsFloat(const char* key, float& field)
{
    if (const std::string* value = ReadIniString(key)) {
        if (auto number = ParseIniFloat(*value)) field = *number;
    }
}

}  // namespace Config
