// The parameter file's reader without GL: the guards, toml++'s parse and the
// conversion of each table into four floats.
#include "FuzzSupport.h"
#include "ParameterFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const std::vector<ParameterTable> tables = readParameterFile(text);
        // Read again, the same file gives the same tables.
        const std::vector<ParameterTable> again = readParameterFile(text);
        fuzzCheck(tables.size() == again.size(), "a second read differs");
        for (std::size_t i = 0; i < tables.size(); ++i) {
            fuzzCheck(tables[i].name == again[i].name, "a second read names another table");
            if (i > 0) fuzzCheck(tables[i - 1].name < tables[i].name, "tables out of key order or repeated");
        }
    } catch (const ParameterFileError& error) {
        fuzzCheck(error.line() >= 1 && error.column() >= 1, "an error without a position");
    }
    return 0;
}
