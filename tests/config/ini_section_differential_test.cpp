// The parsed-once INI reader against GetPrivateProfileStringA itself, on
// hand-written files covering the quirks and on random files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/ini_section.h"
#include "test_files.h"

namespace {

using namespace std::string_literals;
using TestSupport::TempDirectory;

std::string Platform(const std::string& path, const std::string& section, const std::string& key)
{
    char buffer[256];
    std::memset(buffer, 0x55, sizeof(buffer));
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof(buffer), path.c_str());
    return buffer;
}

std::string Escape(const std::string& bytes)
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

const std::vector<std::string> kSections = {"Options", "options", " OPTIONS\t", "Other", ""};

// Compares every (section, key) answer; returns the number of mismatches.
int CompareWithPlatform(const std::string& path, const std::string& content, const std::vector<std::string>& keys)
{
    int mismatches = 0;
    for (const std::string& section : kSections) {
        Config::IniSection parsed = Config::IniSection::Load(path, section);
        for (const std::string& key : keys) {
            std::string expected = Platform(path, section, key);
            std::string actual = parsed.Get(key);
            if (expected != actual) {
                ++mismatches;
                ADD_FAILURE() << "section [" << section << "] key [" << key << "]\n  platform: ["
                              << Escape(expected) << "]\n  reader:   [" << Escape(actual) << "]\nfile:\n"
                              << Escape(content);
                if (mismatches > 3) return mismatches;
            }
        }
    }
    return mismatches;
}

class IniSectionDifferentialTest : public ::testing::Test {
protected:
    std::string WriteCase(const std::string& content)
    {
        // A new name per file: the platform caches parsed files by name.
        std::string path = dir_.File("case" + std::to_string(counter_++) + ".ini");
        TestSupport::WriteFile(path, content);
        return path;
    }
    void Check(const std::string& content, const std::vector<std::string>& keys)
    {
        CompareWithPlatform(WriteCase(content), content, keys);
    }

    TempDirectory dir_;
    int counter_ = 0;
};

const std::vector<std::string> kKeys = {"Key", "key", "KEY", " Key ", "Other", "Empty", "A", "a b", "Missing", "k"};

TEST_F(IniSectionDifferentialTest, QuotesOfBothKindsMatchedAndUnmatched)
{
    Check("[Options]\nKey=\"quoted\"\nOther='single'\nA=\"unmatched\nk='mixed\"\nEmpty=\"\"\n"
          "a b=\"\n",
          kKeys);
    Check("[Options]\nKey='\nOther=\"a\"b\"\nA=\" spaced \" \nk=x\"y\"\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, WhiteSpaceAroundKeysEqualsAndValues)
{
    Check("  [Options]  \n\tKey\t=\tvalue with  inner   spaces\t \n  Other   =  v  \nA=   \n k =x= y\n"
          "a b = two words\n",
          kKeys);
    Check("[ Options ]\nKey=1\n[Options]\nKey=2\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, CommentsLinesWithoutEqualsAndEmptyValues)
{
    Check("; comment\n[Options]\n;Key=commented\n# Other=hash\nKey\nOther=\nA=set\nEmpty=\n=noname\n", kKeys);
    Check("[Options]\nKey\nKey=later\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, DuplicateKeysAndSectionsAndLetterCase)
{
    Check("[Options]\nKey=first\nKEY=second\nkey=third\n", kKeys);
    Check("[options]\nKey=lower section\n[OPTIONS]\nKey=upper\nOther=only in second\n", kKeys);
    Check("[Other]\nKey=o\n[Options]\nA=1\n[Other]\nOther=2\n[Options]\nKey=late\n", kKeys);
    Check("[Opt]ions]\nKey=1\n[Options]x\nKey=2\n[Options\nKey=3\n", kKeys);
}

TEST_F(IniSectionDifferentialTest, ValuesAroundTheBufferSize)
{
    for (std::size_t length : {254u, 255u, 256u, 257u, 258u, 300u}) {
        std::string value(length, 'v');
        value.back() = 'E';
        std::string quoted = "\"" + std::string(length - 2, 'q') + "\"";
        std::string single = "'" + std::string(length - 2, 's') + "'";
        Check("[Options]\nKey=" + value + "\nOther=" + quoted + "\nA=" + single + "\n", kKeys);
    }
}

TEST_F(IniSectionDifferentialTest, LineEndsByteOrderMarkAndHighBytes)
{
    Check("[Options]\r\nKey=crlf\r\nOther=x\r\n", kKeys);
    Check("[Options]\rKey=cr only\rOther=x\r", kKeys);
    Check("[Options]\rKey=cr then\nOther=lf\n", kKeys);
    Check("[Options]\nKey=lf then\rOther=cr\r", kKeys);
    Check("\xEF\xBB\xBF[Options]\nKey=bom \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\nOther=\xFF\xFE\n", kKeys);
    Check("\xEF\xBB\xBF" "Key=before section\n[Options]\nOther=1\n", kKeys);
    Check("[Options]\nKey=caf\xE9 \x80\x81\x8D\x9D\xA0\xFF\nOther=\xA0value\xA0\nA\xE9=1\n", kKeys);
    Check("[Options]\nKey=\x1A" "ctrlz\x1A\nOther=a\x00" "b\nA=\x00\nk=v  \x00  \n"s, kKeys);
}

TEST_F(IniSectionDifferentialTest, KeysBeforeTheFirstSectionAndEmptyFiles)
{
    Check("Key=before\nOther=also\n[Options]\nA=1\n", kKeys);
    Check("", kKeys);
    Check("\n\n\r\n", kKeys);
    Check("[Options]", kKeys);
    Check("Key=no newline at end", kKeys);
    CompareWithPlatform(dir_.File("does-not-exist.ini"), "(missing)", kKeys);
}

TEST_F(IniSectionDifferentialTest, Utf16Files)
{
    auto utf16 = [](const std::wstring& text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (wchar_t c : text) {
            char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    std::wstring text = L"[Options]\r\nKey=wide \u00e9\u20ac\r\nOther = \"q\"\r\n";
    Check(utf16(text, false), kKeys);
    Check(utf16(text, true), kKeys);
}

// Random files assembled from the pieces that matter to the parser.
class RandomIniWriter {
public:
    explicit RandomIniWriter(unsigned seed) : random_(seed) {}

    std::string File()
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

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool Chance(int percent) { return Pick(100) < percent; }
    std::string Space()
    {
        static const char* spaces[] = {"", "", "", " ", "  ", "\t", " \t ", "\x0B"};
        return spaces[Pick(8)];
    }
    std::string Section()
    {
        static const char* names[] = {"Options", "options", "OPTIONS", " Options", "Other", "Opt]ions", "", "Options "};
        std::string header = Space() + "[" + names[Pick(8)] + (Chance(90) ? "]" : "") + Space();
        if (Chance(10)) header += "trail";
        return header;
    }
    std::string Key()
    {
        static const char* keys[] = {"Key", "key", "KEY", "Other", "Empty", "A", "a b", "k", ";Key", "#Other"};
        return keys[Pick(10)];
    }
    std::string Value()
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
    std::string Line()
    {
        switch (Pick(10)) {
        case 0: return Section();
        case 1: return Space() + ";" + Value();
        case 2: return Space() + Key() + Space();
        case 3: return Space();
        default: return Space() + Key() + Space() + "=" + Space() + Value() + Space();
        }
    }

    std::mt19937 random_;
};

TEST_F(IniSectionDifferentialTest, RandomFiles)
{
    const std::vector<std::string> keys = {"Key", "KEY", "Other", "Empty", "A", "a b", "k", ";Key", "#Other", "Nope"};
    int failures = 0;
    for (unsigned seed = 1; seed <= 300 && failures < 3; ++seed) {
        std::string content = RandomIniWriter(seed).File();
        if (CompareWithPlatform(WriteCase(content), content, keys) > 0) {
            ++failures;
            ADD_FAILURE() << "random file with seed " << seed;
        }
    }
}

}  // namespace
