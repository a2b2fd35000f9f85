// The contact sheet: every picture of a preview, shrunk side by side in a
// grid, with its label written under it, as one PNG. A picture that does
// not show its subject is framed in red, with the cause before its label.
#pragma once

#include <string>
#include <vector>

namespace Host {

struct ContactSheetEntry {
    std::string picture;  // a PNG file
    std::string label;
    std::string mark;  // not empty: why the picture shows nothing of its subject
};

// False with a message when a picture cannot be read or the sheet written;
// pictures are read in order and laid out row by row.
bool WriteContactSheet(const std::vector<ContactSheetEntry>& entries, const std::string& file, std::string& error);

}  // namespace Host
