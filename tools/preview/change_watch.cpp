#include "change_watch.h"

#include <windows.h>

namespace Preview {

ChangeWatch::ChangeWatch(const std::string& folder, unsigned quietMs) : folder_(folder), quietMs_(quietMs)
{
    HANDLE handle = FindFirstChangeNotificationA(
        folder.c_str(), TRUE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
            FILE_NOTIFY_CHANGE_LAST_WRITE);
    handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

ChangeWatch::~ChangeWatch()
{
    if (handle_) FindCloseChangeNotification(handle_);
}

bool ChangeWatch::Rearm() { return FindNextChangeNotification(handle_) != 0; }

bool ChangeWatch::WaitForChange(TreeSnapshot& snapshot, std::set<std::string>& changed)
{
    if (!handle_) return false;
    while (true) {
        if (WaitForSingleObject(handle_, INFINITE) != WAIT_OBJECT_0 || !Rearm()) return false;
        // The quiet period: a notification within it starts it again.
        while (true) {
            const DWORD waited = WaitForSingleObject(handle_, quietMs_);
            if (waited == WAIT_TIMEOUT) break;
            if (waited != WAIT_OBJECT_0 || !Rearm()) return false;
        }
        // Re-armed before this snapshot: a change after it signals the next wait.
        TreeSnapshot now = SnapshotTree(folder_);
        changed = ChangedFiles(snapshot, now);
        if (!changed.empty()) {
            snapshot = std::move(now);
            return true;
        }
    }
}

}  // namespace Preview
