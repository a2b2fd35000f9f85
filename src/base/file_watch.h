// Noticing that files changed, by polling their size and last write time
// (slow enough to cost nothing measurable; it runs off the game's thread).
// A change is reported once the file has stood still for a whole poll and
// nothing holds it open for writing: an editor that saves in two writes, or
// keeps the file open while it writes, is reported once, when it is done.
// A file that is gone is reported once it is back.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Files {

struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // last write time, 100 ns units
    bool exists = false;
    bool operator==(const FileStamp& other) const
    {
        return size == other.size && written == other.written && exists == other.exists;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The file's stamp now (exists false when it cannot be asked for one).
FileStamp StampOf(const std::string& path);
// False while another handle holds the file open for writing.
bool WriteFinished(const std::string& path);

class FileWatch {
public:
    // Files to watch; one new here is taken as it is now (no change
    // reported for it), one no longer listed is forgotten. Any thread.
    void Watch(const std::vector<std::string>& paths);
    // Stamps every watched file; returns those changed since the last
    // report that have stood still since the previous poll and are not
    // being written. Any thread, one poll at a time.
    std::vector<std::string> Poll();
    std::size_t Count();

private:
    struct Entry {
        FileStamp reported;  // what the last report (or the first sight) saw
        FileStamp seen;      // what the previous poll saw
    };
    std::mutex lock_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace Files
