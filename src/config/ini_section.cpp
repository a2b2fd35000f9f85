#include "config/ini_section.h"

#include <windows.h>

#include <algorithm>
#include <type_traits>
#include <vector>

namespace Config {
namespace {

// A profile file answers at most 255 characters, plus an opening quote.
constexpr std::size_t kStoredValueChars = 257;
constexpr UINT kResultBufferSize = 256;

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// Only ASCII white space and ^Z count; the platform trims nothing else
// (no-break and other Unicode spaces stay part of names and values).
bool IsProfileSpace(wchar_t c) { return c == L' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A; }

void FoldCase(std::wstring& text)
{
    bool ascii = std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
    if (ascii) {
        for (wchar_t& c : text) {
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    } else if (!text.empty()) {
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    }
}

bool IsAscii(const char* begin, const char* end)
{
    return std::all_of(begin, end, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII is the same in UTF-8 and in every single-byte Windows code page.
std::wstring WidenAscii(const char* begin, const char* end)
{
    std::wstring wide(static_cast<std::size_t>(end - begin), L'\0');
    std::transform(begin, end, wide.begin(), [](char c) { return static_cast<wchar_t>(c); });
    return wide;
}

std::wstring Widen(std::string_view text)
{
    if (IsAscii(text.data(), text.data() + text.size())) return WidenAscii(text.data(), text.data() + text.size());
    std::wstring wide;
    int count = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(count));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
    return wide;
}

// Trims profile white space from both ends of [begin, end).
void Trim(const wchar_t*& begin, const wchar_t*& end)
{
    while (begin < end && IsProfileSpace(*begin)) ++begin;
    while (end > begin && IsProfileSpace(end[-1])) --end;
}

// The text of [begin, end) up to its first NUL: a NUL ends every string the
// platform compares or copies.
std::wstring_view UpToNul(const wchar_t* begin, const wchar_t* end)
{
    const wchar_t* nul = std::find(begin, end, L'\0');
    return std::wstring_view(begin, static_cast<std::size_t>(nul - begin));
}

class MappedFile {
public:
    explicit MappedFile(const std::string& path)
    {
        file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_, &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) return;
        mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!mapping_) return;
        view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
        if (view_) size_ = static_cast<std::size_t>(size.QuadPart);
    }
    ~MappedFile()
    {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* data() const { return static_cast<const unsigned char*>(view_); }
    std::size_t size() const { return size_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

// Walks the lines of one file and keeps the keys of the first section whose
// name matches. Every character that structures a line (white space, '[',
// ']', '=', line ends) is ASCII, so lines in UTF-8 and single-byte code pages
// are cut up as bytes and only names and the start and end of values are
// decoded: a line of any length costs a bounded amount of memory.
class IniSectionParser {
public:
    IniSectionParser(IniSection& target, std::string_view section, const IniSection::KeyFilter& filter)
        : target_(target), filter_(filter)
    {
        std::wstring wanted = Widen(section);
        const wchar_t* begin = wanted.data();
        const wchar_t* end = begin + wanted.size();
        Trim(begin, end);
        wanted_ = std::wstring(UpToNul(begin, end));
        FoldCase(wanted_);
        // Keys before the first header belong to a section with an empty name.
        inWanted_ = wanted_.empty();
    }

    // One line of text, without its line end. Returns false once the wanted
    // section has ended: nothing after it counts.
    template <typename Char, typename Decoder>
    bool Line(const Char* begin, const Char* end, const Decoder& decode)
    {
        TrimAscii(begin, end);
        if (begin == end) return true;
        if (*begin == Char('[')) {
            const Char* close = end;
            while (close > begin && close[-1] != Char(']')) --close;
            if (close > begin) {
                const Char* nameBegin = begin + 1;
                const Char* nameEnd = close - 1;
                TrimAscii(nameBegin, nameEnd);
                nameEnd = std::find(nameBegin, nameEnd, Char(0));
                // A name this long matches no section anyone asks for.
                if (nameEnd - nameBegin > kLongestName) return Header(L"\uFFFF");
                return Header(decode.Whole(nameBegin, nameEnd));
            }
        }
        if (!inWanted_) return true;

        const Char* equals = std::find(begin, end, Char('='));
        const Char* nameEnd = equals;
        while (nameEnd > begin && IsAsciiSpace(nameEnd[-1])) --nameEnd;
        nameEnd = std::find(begin, nameEnd, Char(0));
        if (nameEnd - begin > kLongestName) return true;
        std::wstring name = decode.Whole(begin, nameEnd);
        FoldCase(name);
        if (filter_ && !filter_(name)) return true;
        if (target_.values_.count(name)) return true;  // the first of equal keys wins

        IniSection::StoredValue stored{L"", 0, L'\0', equals != end};
        if (stored.hasValue) {
            const Char* valueBegin = equals + 1;
            while (valueBegin < end && IsAsciiSpace(*valueBegin)) ++valueBegin;
            decode.Value(valueBegin, std::find(valueBegin, end, Char(0)), stored);
        }
        target_.values_.emplace(std::move(name), std::move(stored));
        return true;
    }

private:
    // Names and headers longer than this (in code units) are never stored.
    static constexpr std::ptrdiff_t kLongestName = 16384;

    template <typename Char>
    static bool IsAsciiSpace(Char c)
    {
        auto code = static_cast<std::make_unsigned_t<Char>>(c);
        return code < 0x80 && IsProfileSpace(static_cast<wchar_t>(code));
    }

    template <typename Char>
    static void TrimAscii(const Char*& begin, const Char*& end)
    {
        while (begin < end && IsAsciiSpace(*begin)) ++begin;
        while (end > begin && IsAsciiSpace(end[-1])) --end;
    }

    bool Header(std::wstring name)
    {
        if (seenWanted_) return false;
        FoldCase(name);
        inWanted_ = (name == wanted_);
        // An empty wanted name is the implicit first section, already over.
        if (wanted_.empty()) return false;
        if (inWanted_) seenWanted_ = true;
        return true;
    }

    IniSection& target_;
    const IniSection::KeyFilter& filter_;
    std::wstring wanted_;
    bool inWanted_ = false;
    bool seenWanted_ = false;
};

namespace {

// Text that is already wide.
struct WideDecoder {
    std::wstring Whole(const wchar_t* begin, const wchar_t* end) const { return std::wstring(begin, end); }
    void Value(const wchar_t* begin, const wchar_t* end, IniSection::StoredValue& stored) const
    {
        stored.length = static_cast<std::size_t>(end - begin);
        stored.head.assign(begin, std::min(end, begin + kStoredValueChars));
        stored.last = begin == end ? L'\0' : end[-1];
    }
};

// Bytes in UTF-8 or a single-byte code page. A cut before any byte that is
// not a UTF-8 continuation byte starts a new character, so a piece decodes as
// it does within the whole file, with one exception: the platform's UTF-8
// decoder swallows the rest of its input into one character when a broken
// sequence comes within three bytes of the end. Every piece ends before an
// ASCII byte, so it is decoded followed by as many ASCII bytes as the file
// still has (at most three), whose characters are then dropped, unless the
// broken sequence swallowed them.
struct ByteDecoder {
    UINT codePage;
    const char* textEnd;

    static constexpr std::size_t kWholeValueBytes = 4096;  // more bytes are more than 257 characters
    static constexpr std::ptrdiff_t kLookahead = 3;

    std::wstring Whole(const char* begin, const char* end) const
    {
        if (IsAscii(begin, end)) return WidenAscii(begin, end);
        std::wstring wide;
        std::ptrdiff_t following = std::min(kLookahead, textEnd - end);
        std::string bytes(begin, end);
        bytes.append(static_cast<std::size_t>(following), '\n');
        int count = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        if (count <= 0) return wide;
        wide.resize(static_cast<std::size_t>(count));
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), count);
        // The line ends added come back as line ends, unless a broken
        // sequence swallowed them: its character then belongs to the piece.
        for (std::ptrdiff_t i = 0; i < following && !wide.empty() && wide.back() == L'\n'; ++i) wide.pop_back();
        return wide;
    }

    const char* CharacterStart(const char* at, const char* floor) const
    {
        if (codePage != CP_UTF8) return at;
        for (int step = 0; step < 3 && at > floor && (static_cast<unsigned char>(*at) & 0xC0) == 0x80; ++step) --at;
        return at;
    }

    void Value(const char* begin, const char* end, IniSection::StoredValue& stored) const
    {
        if (static_cast<std::size_t>(end - begin) <= kWholeValueBytes) {
            std::wstring wide = Whole(begin, end);
            WideDecoder{}.Value(wide.data(), wide.data() + wide.size(), stored);
            return;
        }
        stored.length = static_cast<std::size_t>(end - begin);  // a bound: far more than 256 characters
        stored.head = Whole(begin, CharacterStart(begin + kStoredValueChars * 4, begin));
        stored.head.resize(std::min(stored.head.size(), kStoredValueChars));
        std::wstring tail = Whole(CharacterStart(end - 1, begin), end);
        stored.last = tail.empty() ? L'\0' : tail.back();
    }
};

Encoding DetectEncoding(const unsigned char* data, std::size_t size, std::size_t& bomSize)
{
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        bomSize = 3;
        return Encoding::Utf8;
    }
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bomSize = 2;
        return Encoding::Utf16LE;
    }
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        bomSize = 2;
        return Encoding::Utf16BE;
    }
    bomSize = 0;
    return Encoding::Ansi;
}

// Lines end at '\n' and at '\r' alike; CR LF leaves an empty line between.
template <typename Char, typename OnLine>
void ForEachLine(const Char* text, std::size_t size, OnLine onLine)
{
    const Char* end = text + size;
    for (const Char* line = text; line < end;) {
        const Char* lineEnd = std::find_if(line, end, [](Char c) { return c == Char('\n') || c == Char('\r'); });
        if (!onLine(line, lineEnd)) return;
        line = lineEnd + 1;
    }
}

bool IsSingleByteCodePage(UINT codePage)
{
    CPINFO info{};
    return GetCPInfo(codePage, &info) && info.MaxCharSize == 1;
}

void ParseBytes(const unsigned char* data, std::size_t size, UINT codePage, IniSectionParser& parser)
{
    const char* text = reinterpret_cast<const char*>(data);
    if (codePage == CP_UTF8 || IsSingleByteCodePage(codePage)) {
        ByteDecoder decode{codePage, text + size};
        ForEachLine(text, size, [&](const char* begin, const char* end) { return parser.Line(begin, end, decode); });
        return;
    }
    // Double-byte code pages: a trail byte may look like '[' or ']', so
    // whole lines are decoded first.
    ByteDecoder decode{codePage, text + size};
    ForEachLine(text, size, [&](const char* begin, const char* end) {
        std::wstring line = decode.Whole(begin, end);
        return parser.Line(line.data(), line.data() + line.size(), WideDecoder{});
    });
}

void ParseWide(const wchar_t* text, std::size_t count, IniSectionParser& parser)
{
    ForEachLine(text, count,
                [&](const wchar_t* begin, const wchar_t* end) { return parser.Line(begin, end, WideDecoder{}); });
}

}  // namespace

IniSection IniSection::Load(const std::string& path, std::string_view section, const KeyFilter& filter)
{
    IniSection result;
    MappedFile file(path);
    if (!file.data()) return result;

    IniSectionParser parser(result, section, filter);
    std::size_t bomSize = 0;
    Encoding encoding = DetectEncoding(file.data(), file.size(), bomSize);
    const unsigned char* text = file.data() + bomSize;
    std::size_t size = file.size() - bomSize;
    switch (encoding) {
    case Encoding::Ansi:
        ParseBytes(text, size, CP_ACP, parser);
        break;
    case Encoding::Utf8:
        ParseBytes(text, size, CP_UTF8, parser);
        break;
    case Encoding::Utf16LE:
        ParseWide(reinterpret_cast<const wchar_t*>(text), size / 2, parser);
        break;
    case Encoding::Utf16BE: {
        std::wstring swapped(size / 2, L'\0');
        for (std::size_t i = 0; i < swapped.size(); ++i) {
            swapped[i] = static_cast<wchar_t>((text[2 * i] << 8) | text[2 * i + 1]);
        }
        ParseWide(swapped.data(), swapped.size(), parser);
        break;
    }
    }
    return result;
}

std::vector<std::wstring> IniSection::KeyNames() const
{
    std::vector<std::wstring> names;
    names.reserve(values_.size());
    for (const auto& entry : values_) names.push_back(entry.first);
    return names;
}

std::string IniSection::Get(std::string_view key) const
{
    // Start-up asks for tens of thousands of keys, nearly all ASCII: those
    // are trimmed and folded in one pass.
    std::wstring name;
    if (IsAscii(key.data(), key.data() + key.size())) {
        const char* begin = key.data();
        const char* end = begin + key.size();
        while (begin < end && IsProfileSpace(static_cast<unsigned char>(*begin))) ++begin;
        while (end > begin && IsProfileSpace(static_cast<unsigned char>(end[-1]))) --end;
        name.reserve(static_cast<std::size_t>(end - begin));
        for (const char* c = begin; c < end && *c != '\0'; ++c) {
            name.push_back(static_cast<wchar_t>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c));
        }
    } else {
        name = Widen(key);
        const wchar_t* begin = name.data();
        const wchar_t* end = begin + name.size();
        Trim(begin, end);
        name = std::wstring(UpToNul(begin, end));
        FoldCase(name);
    }

    auto found = values_.find(name);
    if (found == values_.end() || !found->second.hasValue) return {};
    const StoredValue& value = found->second;

    // Matching quotes around the value are dropped, the closing one only
    // when the whole value fits the buffer.
    std::size_t offset = 0;
    std::size_t length = value.length;
    bool quoted = length >= 2 && (value.head[0] == L'"' || value.head[0] == L'\'') && value.last == value.head[0];
    if (quoted) {
        offset = 1;
        length -= 1;
    }
    std::wstring copied = value.head.substr(offset, std::min<std::size_t>(length, kResultBufferSize - 1));
    if (quoted && kResultBufferSize >= length && !copied.empty()) copied.pop_back();
    if (copied.empty()) return {};

    if (std::all_of(copied.begin(), copied.end(), [](wchar_t c) { return c < 0x80; })) {
        return std::string(copied.begin(), copied.end());
    }
    char buffer[kResultBufferSize];
    int bytes = WideCharToMultiByte(CP_ACP, 0, copied.data(), static_cast<int>(copied.size()), buffer,
                                    kResultBufferSize - 1, nullptr, nullptr);
    if (bytes == 0) bytes = kResultBufferSize - 1;
    buffer[bytes] = '\0';
    return std::string(buffer);
}

}  // namespace Config
