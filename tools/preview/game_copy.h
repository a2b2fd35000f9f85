// A copy of a game directory for the preview's views. Every copy streams
// without a per-frame budget and keeps what it loaded (StreamingBudgetMs=0,
// DontUnloadCulledModels=1 first in the settings): that changes how soon a
// view is ready, never what it shows. A far copy also puts DrawDistance first
// in the map definition, so that every group is drawn from as far as its
// views stand (the overview, the corners, the collision views); from there
// the game itself would draw only the LODs. The first value of a key wins,
// so the copy's lines go right after the first [Options].
#pragma once

#include <string>
#include <vector>

namespace Preview {

// farDrawDistance <= 0: a near copy (the settings' lines only). The copy's
// files are hard links where they can be (file_tree.h): only its settings
// and map definition are its own, and a run writes only those and the log.
bool MakeGameCopy(const std::string& game, const std::string& copy, double farDrawDistance, std::string& error);

// Turns an existing copy into another kind (near, or far at another
// distance) for the next run: its settings and map definition made again
// from the game directory's, its last run's log removed.
bool SetCopyKind(const std::string& game, const std::string& copy, double farDrawDistance, std::string& error);

// The text with the lines inserted right after its first [Options] line (any
// case, leading blanks allowed), in the text's own line ends; with a new
// [Options] section at the top when there is none.
std::string PutFirstInOptions(const std::string& text, const std::vector<std::string>& lines);

// The value of the first KEY=value line (any case), quotes and blanks
// trimmed; empty when there is none.
std::string FirstValue(const std::string& text, const std::string& key);

}  // namespace Preview
