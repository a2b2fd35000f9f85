#include "check_report.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace Preview {

namespace {

// A recursive-descent reader over the report's text that throws on the
// first thing that is not JSON.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    void Expect(char c)
    {
        Blank();
        if (at_ >= text_.size() || text_[at_] != c) Fail(std::string("expected '") + c + "'");
        ++at_;
    }

    bool Next(char c)
    {
        Blank();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    std::string String()
    {
        Expect('"');
        std::string out;
        while (true) {
            if (at_ >= text_.size()) Fail("unterminated string");
            char c = text_[at_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) Fail("unterminated string");
            c = text_[at_++];
            switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': Utf8(Hex4(), out); break;
            default: out += c;  // \" \\ \/
            }
        }
    }

    // Objects' members one by one: Members(visit(key)) where visit reads the value.
    template <typename Visit>
    void Members(Visit visit)
    {
        Expect('{');
        if (Next('}')) return;
        do {
            const std::string key = String();
            Expect(':');
            visit(key);
        } while (Next(','));
        Expect('}');
    }

    template <typename Visit>
    void Elements(Visit visit)
    {
        Expect('[');
        if (Next(']')) return;
        do visit();
        while (Next(','));
        Expect(']');
    }

    void Skip()
    {
        Blank();
        if (at_ >= text_.size()) Fail("unexpected end");
        const char c = text_[at_];
        if (c == '{') {
            Members([this](const std::string&) { Skip(); });
        } else if (c == '[') {
            Elements([this] { Skip(); });
        } else if (c == '"') {
            String();
        } else {
            const std::size_t start = at_;
            while (at_ < text_.size() && std::string(",]} \t\r\n").find(text_[at_]) == std::string::npos) ++at_;
            const std::string word = text_.substr(start, at_ - start);
            char* end = nullptr;
            std::strtod(word.c_str(), &end);
            if (word != "true" && word != "false" && word != "null" && (word.empty() || *end)) Fail("bad value");
        }
    }

    void End()
    {
        Blank();
        if (at_ != text_.size()) Fail("text after the report");
    }

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw std::runtime_error(what + " at offset " + std::to_string(at_));
    }

private:
    void Blank()
    {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos) ++at_;
    }

    unsigned Hex4()
    {
        if (at_ + 4 > text_.size()) Fail("bad \\u escape");
        char* end = nullptr;
        const std::string digits = text_.substr(at_, 4);
        const unsigned value = static_cast<unsigned>(std::strtoul(digits.c_str(), &end, 16));
        if (*end) Fail("bad \\u escape");
        at_ += 4;
        return value;
    }

    void Utf8(unsigned code, std::string& out)
    {
        if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            code = 0x10000 + ((code - 0xD800) << 10) + (Hex4() - 0xDC00);
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

ReportFile ReadFile(Reader& reader)
{
    ReportFile file;
    reader.Members([&](const std::string& key) {
        if (key == "path") {
            file.path = reader.String();
        } else if (key == "kind") {
            file.kind = reader.String();
        } else if (key == "roles") {
            reader.Elements([&] { file.roles.push_back(reader.String()); });
        } else if (key == "findings") {
            reader.Elements([&] {
                ReportFinding finding;
                reader.Members([&](const std::string& field) {
                    if (field == "severity") finding.severity = reader.String();
                    else if (field == "code") finding.code = reader.String();
                    else if (field == "message") finding.message = reader.String();
                    else reader.Skip();
                });
                file.findings.push_back(finding);
            });
        } else {
            reader.Skip();
        }
    });
    return file;
}

}  // namespace

bool ParseCheckReport(const std::string& json, CheckReport& report, std::string& error)
{
    report = CheckReport();
    Reader reader(json);
    bool files = false;
    try {
        reader.Members([&](const std::string& key) {
            if (key == "files") {
                files = true;
                reader.Elements([&] { report.files.push_back(ReadFile(reader)); });
            } else {
                reader.Skip();
            }
        });
        reader.End();
    } catch (const std::exception& e) {
        error = std::string("the map checker's report is not JSON: ") + e.what();
        return false;
    }
    if (!files) error = "the map checker's report lists no files";
    return files;
}

std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace Preview
