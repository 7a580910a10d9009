#include "CheckReport.h"

#include <algorithm>

const char* severityName(Severity severity) { return severity == Severity::Error ? "error" : "warning"; }

const char* activityName(Activity activity) {
    switch (activity) {
    case Activity::Active: return "yes";
    case Activity::Inactive: return "no";
    case Activity::Unknown: break;
    }
    return "unknown";
}

void CheckReport::add(Severity severity, std::string code, std::string where, std::string message) {
    findings.push_back(Finding{severity, std::move(code), std::move(where), std::move(message)});
}

std::size_t CheckReport::count(Severity severity) const {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(), [&](const Finding& f) { return f.severity == severity; }));
}

int CheckReport::exitStatus() const { return count(Severity::Error) > 0 ? 1 : 0; }
