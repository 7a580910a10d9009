// The export scan over any bytes, and on texts small enough for the standard
// library's recursive matcher, the same list as its regex rewrite loop.
#include "ExportScan.h"
#include "ExportScanReference.h"
#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// libstdc++'s matcher recurses per character it matches; beyond this size, or
// with long runs of white space, it may exhaust the stack on its own.
constexpr std::size_t kReferenceLimit = 2048;
constexpr std::size_t kLongestWhiteSpaceRun = 128;

bool referenceCanRun(const std::string& text) {
    if (text.size() > kReferenceLimit) return false;
    std::size_t run = 0;
    for (char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
        run = space ? run + 1 : 0;
        if (run > kLongestWhiteSpaceRun) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<ExportedUniform> found = scanExports(text);
    for (const ExportedUniform& e : found) {
        fuzzCheck(e.type == classifyType(e.typeName), "type does not match its word");
        fuzzCheck(!e.name.empty() && !e.kind.empty() && !e.target.empty(), "an empty group");
    }
    if (!referenceCanRun(text)) return 0;
    const std::vector<ExportedUniform> expected = regexScan(text);
    fuzzCheck(found.size() == expected.size(), "a different number of exports than the regex loop");
    for (std::size_t i = 0; i < found.size(); ++i) {
        fuzzCheck(sameExport(found[i], expected[i]), "an export differs from the regex loop's");
    }
    return 0;
}
