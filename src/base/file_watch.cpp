#include "base/file_watch.h"

#include <windows.h>

#include <iterator>
#include <unordered_set>

namespace Files {

FileStamp StampOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FileStamp stamp;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
    stamp.exists = true;
    stamp.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

bool WriteFinished(const std::string& path)
{
    // Sharing reads only: refused while a writer has the file open.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

void FileWatch::Watch(const std::vector<std::string>& paths)
{
    std::unordered_set<std::string> listed(paths.begin(), paths.end());
    std::vector<std::string> fresh;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto at = entries_.begin(); at != entries_.end();) {
            at = listed.count(at->first) ? std::next(at) : entries_.erase(at);
        }
        for (const std::string& path : listed) {
            if (!entries_.count(path)) fresh.push_back(path);
        }
    }
    // Stamped outside the lock: a poll may run meanwhile.
    std::vector<FileStamp> stamps;
    stamps.reserve(fresh.size());
    for (const std::string& path : fresh) stamps.push_back(StampOf(path));
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < fresh.size(); ++i) entries_.emplace(fresh[i], Entry{stamps[i], stamps[i]});
}

std::vector<std::string> FileWatch::Poll()
{
    std::vector<std::pair<std::string, Entry>> snapshot;
    {
        std::lock_guard<std::mutex> guard(lock_);
        snapshot.assign(entries_.begin(), entries_.end());
    }
    std::vector<std::string> changed;
    std::vector<std::pair<std::string, Entry>> updated;
    for (auto& [path, entry] : snapshot) {
        const FileStamp now = StampOf(path);
        Entry next = entry;
        next.seen = now;
        // Changed, standing still since the last poll, there, and not held
        // for writing: the save is done.
        if (now != entry.reported && now == entry.seen && now.exists && WriteFinished(path)) {
            next.reported = now;
            changed.push_back(path);
        }
        if (next.seen != entry.seen || next.reported != entry.reported) updated.emplace_back(path, next);
    }
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [path, entry] : updated) {
        auto found = entries_.find(path);
        if (found != entries_.end()) found->second = entry;
    }
    return changed;
}

std::size_t FileWatch::Count()
{
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

}  // namespace Files
