// writeParameterTable, as the studio's inspector saves a uniform's values into
// fsshader.ini: any text, a table (one the file has, or a new one) and one to
// four values. Where the writer writes, the file reads back with exactly those
// values in that table and every other table as it was; the only lines that
// differ are the lines of that table's written components, its header where
// the file had none (a new table, or one only a [table.sub] header made), and
// one blank line before it; and the written file can be written again.
//
// Input (FuzzedDataProvider): the text first; from the end, the table and the
// values.
#include "FuzzSupport.h"
#include "ParameterFile.h"
#include "ParameterWrite.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <toml++/toml.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::map<std::string, ValueSlot> tablesOf(std::string_view text) {
    std::map<std::string, ValueSlot> tables;
    for (const ParameterTable& table : readParameterFile(text)) tables[table.name] = table.values;
    return tables;
}

bool sameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// The text's lines, their breaks dropped.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

// Lines (1-based) that hold the table's components v0..v(count-1), as the TOML
// parser places them, and its header line where `original` has no such line.
// Only for text readParameterFile accepted.
struct TableLines {
    std::set<std::size_t> numbers;
    bool newHeader = false;
};
TableLines tableLines(std::string_view text, const std::string& name, std::size_t count,
                      const std::vector<std::string_view>& original) {
    TableLines found;
    const toml::table root = toml::parse(text);
    const toml::table* table = root.get_as<toml::table>(name);
    if (!table) return found;
    for (std::size_t c = 0; c < count; ++c)
        if (const toml::node* value = table->get("v" + std::to_string(c))) found.numbers.insert(value->source().begin.line);
    const std::vector<std::string_view> lines = linesOf(text);
    const std::size_t header = table->source().begin.line;
    if (header >= 1 && header <= lines.size() &&
        std::find(original.begin(), original.end(), lines[header - 1]) == original.end()) {
        found.numbers.insert(header);
        found.newHeader = true;
    }
    return found;
}

// The non-blank lines but for the given ones; `blank` counts the blank ones.
std::vector<std::string_view> otherLines(const std::vector<std::string_view>& lines, const std::set<std::size_t>& skipped,
                                         std::size_t& blank) {
    std::vector<std::string_view> kept;
    blank = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find_first_not_of(" \t") == std::string_view::npos) ++blank;
        else if (skipped.count(i + 1) == 0) kept.push_back(lines[i]);
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t pick = input.ConsumeIntegral<std::uint8_t>();
    std::vector<float> values(input.ConsumeIntegralInRange<std::size_t>(1, 4));
    for (float& value : values) {
        value = std::bit_cast<float>(input.ConsumeIntegral<std::uint32_t>());
        if (std::isnan(value)) value = 0.0f;  // TOML keeps no NaN's bits: the writer refuses those
    }
    const std::string text = input.ConsumeRemainingBytesAsString();

    std::map<std::string, ValueSlot> before;
    try {
        before = tablesOf(text);
    } catch (const ParameterFileError&) {
        std::string why;
        fuzzCheck(!zyr::studio::writeParameterTable(text, "t", values, why), "a file that does not read was written");
        return 0;
    }
    // A table the file has, or a new one.
    std::string table = "new" + std::to_string(pick % 4);
    if (pick < 128 && !before.empty()) {
        auto it = before.begin();
        std::advance(it, pick % before.size());
        table = it->first;
    }

    std::string why;
    const std::optional<std::string> out = zyr::studio::writeParameterTable(text, table, values, why);
    if (!out) {
        fuzzCheck(!why.empty(), "refused without a reason");
        return 0;
    }
    std::map<std::string, ValueSlot> after;
    try {
        after = tablesOf(*out);
    } catch (const ParameterFileError&) {
        fuzzCheck(false, "the written file does not read");
    }
    const bool isNew = before.count(table) == 0;
    fuzzCheck(after.size() == before.size() + (isNew ? 1 : 0), "tables came or went");
    for (const auto& [name, slot] : after) {
        const ValueSlot old = isNew && name == table ? ValueSlot{} : before.at(name);
        for (std::size_t c = 0; c < slot.size(); ++c) {
            const float expected = name == table && c < values.size() ? values[c] : old[c];
            fuzzCheck(sameBits(slot[c], expected), "a value reads otherwise after the write");
        }
    }

    const std::vector<std::string_view> originalLines = linesOf(text);
    const TableLines changed = tableLines(*out, table, values.size(), originalLines);
    std::size_t blankBefore = 0, blankAfter = 0;
    const auto kept = otherLines(originalLines, tableLines(text, table, values.size(), originalLines).numbers, blankBefore);
    const auto written = otherLines(linesOf(*out), changed.numbers, blankAfter);
    fuzzCheck(kept == written, "a line other than the table's written components changed");
    fuzzCheck(blankAfter == blankBefore || (changed.newHeader && blankAfter == blankBefore + 1),
              "blank lines came or went");

    std::vector<float> again(values.rbegin(), values.rend());
    fuzzCheck(zyr::studio::writeParameterTable(*out, table, again, why).has_value(), "a written file cannot be written again");
    return 0;
}
