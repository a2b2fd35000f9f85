#include "import_cache.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "worker_protocol.h"

namespace MapChecker {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c == '/') c = '\\';
    }
    return text;
}

std::string Folder(const std::string& path)
{
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

bool IsImage(const std::string& name)
{
    static const char* const kImages[] = {".png", ".jpg", ".jpeg", ".bmp", ".tga", ".dds", ".gif", ".psd", ".hdr"};
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    const std::string extension = name.substr(dot);
    return std::any_of(std::begin(kImages), std::end(kImages), [&](const char* image) { return extension == image; });
}

std::string Signature(const WIN32_FILE_ATTRIBUTE_DATA& data)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lu:%lu:%lu:%lu", data.nFileSizeHigh, data.nFileSizeLow,
                  data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return text;
}

// The files of a folder a reader may open beside a model, with their
// signatures; `models` (lower case) are left out, as they are keyed apart.
std::string CompanionSignatures(const std::string& folder, const std::set<std::string>& models)
{
    std::map<std::string, std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::string();
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = Lower(found.cFileName);
        const bool log = name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0;
        if (IsImage(name) || log || models.count(Lower(folder) + name)) continue;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        data.nFileSizeHigh = found.nFileSizeHigh;
        data.nFileSizeLow = found.nFileSizeLow;
        data.ftLastWriteTime = found.ftLastWriteTime;
        files[name] = Signature(data);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::string text;
    for (const auto& [name, signature] : files) text += name + "=" + signature + ";";
    return text;
}

std::string EntryName(const std::string& key)
{
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[24];
    std::snprintf(name, sizeof name, "%016llx.txt", static_cast<unsigned long long>(hash));
    return name;
}

bool ReadEntry(const std::string& file, const std::string& key, ImportResult& result)
{
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != key) return false;
    ResultDecoder decoder;
    try {
        while (std::getline(in, line)) {
            if (decoder.Take(line)) {
                result = std::move(decoder.Result());
                return true;
            }
        }
    } catch (const std::runtime_error&) {
    }
    return false;  // cut short or not a result: imported again
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

std::string FileSignature(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? Signature(data) : std::string();
}

std::vector<ImportResult> ImportWithCache(const std::vector<ImportJob>& jobs, const std::string& directory,
                                          const std::string& base, const ImportJobs& import)
{
    CreateDirectoryA(directory.c_str(), nullptr);
    std::set<std::string> models;
    for (const ImportJob& job : jobs) models.insert(Lower(job.path));

    std::vector<ImportResult> results(jobs.size());
    std::vector<std::string> keys(jobs.size());
    std::vector<ImportJob> missing;
    std::vector<std::size_t> missingAt;
    std::map<std::string, std::string> companions;  // by folder
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const std::string folder = Folder(jobs[i].path);
        auto found = companions.find(folder);
        if (found == companions.end()) found = companions.emplace(folder, CompanionSignatures(folder, models)).first;
        std::string job = EncodeJob(jobs[i]);
        job.pop_back();  // its '\n'
        keys[i] = job + "\t" + FileSignature(jobs[i].path) + "\t" + found->second + "\t" + base;
        if (!ReadEntry(directory + "\\" + EntryName(keys[i]), keys[i], results[i])) {
            missing.push_back(jobs[i]);
            missingAt.push_back(i);
        }
    }
    if (missing.empty()) return results;

    std::vector<ImportResult> imported = import(missing);
    for (std::size_t m = 0; m < missing.size(); ++m) {
        const std::size_t i = missingAt[m];
        results[i] = std::move(imported[m]);
        // A time limit met may be the machine's load, not the file's fault.
        const bool timedOut = std::any_of(results[i].findings.begin(), results[i].findings.end(),
                                          [](const Finding& f) { return f.code == std::string("importer-timeout"); });
        if (!timedOut) WriteEntry(directory + "\\" + EntryName(keys[i]), keys[i], results[i]);
    }
    return results;
}

}  // namespace MapChecker
