#include "import_cache.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>

#include "worker_protocol.h"

namespace MapChecker {
namespace {

// Raised whenever an entry's layout or meaning changes.
constexpr const char* kEntryFormat = "vornak-import-cache 2";

// The checker that made a result: its version and its program, whose size
// and time change with every build.
std::string CheckerIdentity()
{
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    return std::string(kEntryFormat) + " " VORNAK_VERSION " " +
           (length && length < MAX_PATH ? FileSignature(program) : std::string());
}

std::string EntryName(const std::string& key)
{
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[24];
    std::snprintf(name, sizeof name, "%016llx.txt", static_cast<unsigned long long>(hash));
    return name;
}

// Fingerprints taken once per check, however many results name a file.
class Fingerprints {
public:
    const std::string& Of(const std::string& path)
    {
        auto found = known_.find(path);
        if (found == known_.end()) found = known_.emplace(path, FileFingerprint(path)).first;
        return found->second;
    }

private:
    std::map<std::string, std::string> known_;
};

bool ReadEntry(const std::string& file, const std::string& key, Fingerprints& now, ImportResult& result)
{
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != key) return false;
    ResultDecoder decoder;
    try {
        while (std::getline(in, line)) {
            if (!decoder.Take(line)) continue;
            ImportResult& kept = decoder.Result();
            if (kept.reads.empty()) return false;
            for (const FileRead& read : kept.reads) {
                if (now.Of(read.path) != read.fingerprint) return false;
            }
            result = std::move(kept);
            return true;
        }
    } catch (const std::runtime_error&) {
    }
    return false;  // cut short or not a result: imported again
}

bool WorthKeeping(const ImportResult& result)
{
    if (result.reads.empty()) return false;
    return std::none_of(result.findings.begin(), result.findings.end(), [](const Finding& f) {
        return f.code == std::string("importer-timeout") || f.code == std::string(kOutOfMemoryCode);
    });
}

void WriteEntry(const std::string& file, const std::string& key, const ImportResult& result)
{
    // Written beside and then moved, so that a reader never sees half an entry.
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << key << '\n' << EncodeResult(result);
        if (!out) return;
    }
    MoveFileExA(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

std::vector<ImportResult> ImportWithCache(const std::vector<ImportJob>& jobs, const std::string& directory,
                                          const std::string& base, const ImportJobs& import)
{
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string identity = CheckerIdentity();
    Fingerprints now;

    std::vector<ImportResult> results(jobs.size());
    std::vector<std::string> keys(jobs.size());
    std::vector<ImportJob> missing;
    std::vector<std::size_t> missingAt;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::string job = EncodeJob(jobs[i]);
        job.pop_back();  // its '\n'
        keys[i] = job + "\t" + identity + "\t" + base;
        if (!ReadEntry(directory + "\\" + EntryName(keys[i]), keys[i], now, results[i])) {
            missing.push_back(jobs[i]);
            missingAt.push_back(i);
        }
    }
    if (missing.empty()) return results;

    std::vector<ImportResult> imported = import(missing);
    for (std::size_t m = 0; m < missing.size(); ++m) {
        const std::size_t i = missingAt[m];
        results[i] = std::move(imported[m]);
        if (WorthKeeping(results[i])) WriteEntry(directory + "\\" + EntryName(keys[i]), keys[i], results[i]);
    }
    return results;
}

}  // namespace MapChecker
