#include "change_scope.h"

#include <map>

#include "file_tree.h"

namespace Preview {

namespace {

// The findings that mean the file was not imported.
bool FailedImport(const std::string& code)
{
    return code == "file-missing" || code == "file-unreadable" || code == "importer-crash" ||
           code == "importer-timeout" || code == "no-normals";
}

bool AllDigits(const std::string& text, std::size_t from, std::size_t to)
{
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

int GroupOfRole(const std::string& role)
{
    const std::string prefix = "MapModel";
    if (role.compare(0, prefix.size(), prefix) != 0) return -1;
    std::size_t digitsEnd = prefix.size();
    while (digitsEnd < role.size() && role[digitsEnd] >= '0' && role[digitsEnd] <= '9') ++digitsEnd;
    if (digitsEnd == prefix.size() || digitsEnd - prefix.size() > 9) return -1;
    const std::string rest = role.substr(digitsEnd);
    const bool member = rest.compare(0, 4, "Path") == 0 && (rest.size() == 4 || AllDigits(rest, 4, rest.size()));
    if (!member && rest != "LODPath") return -1;
    return std::stoi(role.substr(prefix.size(), digitsEnd - prefix.size()));
}

ChangeScope ScopeOfChange(const CheckReport& report, const std::set<std::string>& changed)
{
    ChangeScope scope;
    std::map<std::string, const ReportFile*> models;
    for (const ReportFile& file : report.files) {
        if (file.kind == "model" || file.kind == "collision model") models[Lower(file.path)] = &file;
    }
    std::set<int> groups;
    for (const ReportFile& file : report.files) {
        if (!changed.count(Lower(file.path))) continue;
        if (file.kind == "settings" || file.kind == "map definition") {
            scope.every = true;
            continue;
        }
        std::vector<const ReportFile*> users;
        if (file.kind != "texture") {
            users.push_back(&file);
        } else {
            for (const std::string& role : file.roles) {
                const auto model = models.find(Lower(role));
                if (model != models.end()) users.push_back(model->second);
            }
        }
        bool bad = false;
        for (const ReportFinding& finding : file.findings) {
            if (!FailedImport(finding.code)) continue;
            bad = true;
            scope.errors.push_back(file.path + ": " + finding.severity + " " + finding.code + ": " + finding.message);
        }
        for (const ReportFile* user : users) {
            scope.collisions |= user->kind == "collision model";
            for (const std::string& role : user->roles) {
                const int group = GroupOfRole(role);
                if (group >= 0) (bad ? scope.kept : groups).insert(group);
            }
        }
    }
    for (int group : groups) {
        if (!scope.kept.count(group)) scope.groups.insert(group);
    }
    return scope;
}

std::vector<std::string> FatalFindings(const CheckReport& report)
{
    std::vector<std::string> fatal;
    for (const ReportFile& file : report.files) {
        for (const ReportFinding& finding : file.findings) {
            if (finding.severity == "fatal") fatal.push_back(file.path + ": " + finding.code + ": " + finding.message);
        }
    }
    return fatal;
}

}  // namespace Preview
