#include "findings.h"

namespace MapChecker {

const char* SeverityName(Severity severity) { return severity == Severity::Fatal ? "fatal" : "warning"; }

const char* FileKindName(FileKind kind)
{
    switch (kind) {
    case FileKind::Settings: return "settings";
    case FileKind::MapDefinition: return "map definition";
    case FileKind::Model: return "model";
    case FileKind::CollisionModel: return "collision model";
    case FileKind::Texture: return "texture";
    }
    return "file";
}

std::optional<Severity> WorstSeverity(const FileReport& file)
{
    std::optional<Severity> worst;
    for (const Finding& finding : file.findings) {
        if (finding.severity == Severity::Fatal) return Severity::Fatal;
        worst = Severity::Warning;
    }
    return worst;
}

int ExitCodeFor(const CheckReport& report)
{
    int code = 0;
    for (const FileReport& file : report.files) {
        std::optional<Severity> worst = WorstSeverity(file);
        if (worst == Severity::Fatal) return 2;
        if (worst) code = 1;
    }
    return code;
}

}  // namespace MapChecker
