#include "preview_page.h"

#include "check_report.h"
#include "file_tree.h"

namespace Preview {

std::string WithPreviewError(const std::string& page, const std::string& error)
{
    const std::string open = "<script>";
    std::size_t script = page.find(open + "\n");
    std::size_t lineStart = script == std::string::npos ? std::string::npos : script + open.size() + 1;
    if (script == std::string::npos) {
        script = page.find(open + "\r\n");
        if (script == std::string::npos) return page;  // not the checker's page: left as it is
        lineStart = script + open.size() + 2;
    }
    const std::string newline = page.compare(lineStart - 2, 2, "\r\n") == 0 ? "\r\n" : "\n";
    std::string text = page;
    const std::string marker = "const previewError = ";
    if (text.compare(lineStart, marker.size(), marker) == 0) {
        const std::size_t end = text.find('\n', lineStart);
        text.erase(lineStart, end == std::string::npos ? std::string::npos : end + 1 - lineStart);
    }
    if (!error.empty()) {
        std::string quoted = JsonQuote("Not updated, the last good pictures are shown: " + error);
        // "</" would end the script element inside the string.
        for (std::size_t at = quoted.find("</"); at != std::string::npos; at = quoted.find("</", at + 3)) {
            quoted.replace(at, 2, "<\\/");
        }
        text.insert(lineStart, marker + quoted + ";" + newline);
    }
    return text;
}

bool WritePageWithError(const std::string& source, const std::string& target, const std::string& error)
{
    std::string page;
    return ReadTextFile(source, page) && WriteTextFile(target, WithPreviewError(page, error));
}

}  // namespace Preview
