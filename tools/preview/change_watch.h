// Waits for a save to a game directory: a change notification on the whole
// tree (file names, sizes, write times), then a quiet period with no further
// notification, so that a save in several writes (or several files saved
// together) is seen once, complete. What changed is told by comparing the
// files' sizes and write times with the last snapshot; notifications that
// change nothing there (the plug-in's log, a file saved unchanged) are let go.
#pragma once

#include <set>
#include <string>

#include "file_tree.h"

namespace Preview {

class ChangeWatch {
public:
    // Watching starts here: a change made from now on is seen by the next
    // WaitForChange, even one made before it is called.
    ChangeWatch(const std::string& folder, unsigned quietMs);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    bool Ok() const { return handle_ != nullptr; }
    // The files changed since snapshot (relative, lower case), with
    // snapshot updated to the tree as it is now; false when the watch fails.
    bool WaitForChange(TreeSnapshot& snapshot, std::set<std::string>& changed);

private:
    bool Rearm();

    std::string folder_;
    unsigned quietMs_;
    void* handle_ = nullptr;
};

}  // namespace Preview
