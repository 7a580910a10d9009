// ReportFormat: zyr-check's two ways of writing a CheckReport.
//
// Use:
//     std::string text = formatTable(report);   // for people: sections, tables, findings
//     std::string json = formatJson(report);    // for scripts: one JSON object
//
// The table is plain text; bytes from the archive that would act on a
// terminal (control characters, escape sequences) are shown as \xNN. The JSON
// is valid UTF-8 whatever the archive holds: malformed sequences become
// U+FFFD, non-finite numbers null.
//
// Ownership: returns new strings; the report is only read. Failure: none.
#pragma once

#include "CheckReport.h"

#include <string>

std::string formatTable(const CheckReport& report);
std::string formatJson(const CheckReport& report);
