// The error line of the preview's index.html. The checker writes the page
// with a <script> block; the watch puts `const previewError = "...";` first in
// it when an update could not take every view, and the page shows that text
// at its top. Writing the page without an error removes an earlier one.
#pragma once

#include <string>

namespace Preview {

// The page's text with its error line set to error (none when empty).
std::string WithPreviewError(const std::string& page, const std::string& error);

// Reads source (the new plan's page, or the output's own), writes it to
// target with the error line; false when either fails.
bool WritePageWithError(const std::string& source, const std::string& target, const std::string& error);

}  // namespace Preview
