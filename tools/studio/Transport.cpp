#include "Transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace zyr::studio {

std::vector<SongSection> sectionsOrEvery16Bars(std::vector<SongSection> sections, double lengthRows) {
    if (!sections.empty()) return sections;
    constexpr int kBars = 16;
    for (int first = 0; first * kRowsPerBar < lengthRows || first == 0; first += kBars)
        sections.push_back({"bars " + std::to_string(first + 1) + "-" + std::to_string(first + kBars),
                            first * kRowsPerBar});
    return sections;
}

Transport::Transport(std::vector<SongSection> sections, double lengthRows)
    : sections_(std::move(sections)), length_(lengthRows) {}

std::optional<double> Transport::target(Move move, double row, int section) const {
    double to = row;
    switch (move) {
    case Move::BackBeat: to = row - kRowsPerBeat; break;
    case Move::NextBeat: to = row + kRowsPerBeat; break;
    case Move::BackBar: to = row - kRowsPerBar; break;
    case Move::NextBar: to = row + kRowsPerBar; break;
    case Move::Start: to = 0.0; break;
    case Move::BackRow: to = row - 1.0; break;
    case Move::NextRow: to = row + 1.0; break;
    case Move::Section:
        if (section < 1 || static_cast<std::size_t>(section) > sections_.size()) return std::nullopt;
        to = sections_[static_cast<std::size_t>(section) - 1].startRow;
        break;
    }
    return std::clamp(to, 0.0, std::max(0.0, length_));
}

std::optional<double> Transport::wrap(double row) const {
    if (looping() && row >= *loopEnd_) return *loopStart_;
    return std::nullopt;
}

const std::string& Transport::sectionAt(double row) const {
    static const std::string none;
    const std::string* name = &none;
    for (const SongSection& section : sections_)
        if (row >= section.startRow) name = &section.name;
    return *name;
}

const char* formatTime(double seconds, std::span<char> out) {
    const long long millis = seconds > 0.0 ? static_cast<long long>(std::floor(seconds * 1000.0)) : 0;
    std::snprintf(out.data(), out.size(), "%lld:%02lld.%03lld", millis / 60000, millis / 1000 % 60, millis % 1000);
    return out.data();
}

const char* formatBarBeat(double row, std::span<char> out) {
    const long long whole = row > 0.0 ? static_cast<long long>(std::floor(row)) : 0;
    const long long bar = whole / static_cast<long long>(kRowsPerBar) + 1;
    const long long beat = whole % static_cast<long long>(kRowsPerBar) / static_cast<long long>(kRowsPerBeat) + 1;
    const long long inBeat = whole % static_cast<long long>(kRowsPerBeat);
    std::snprintf(out.data(), out.size(), "%lld.%lld.%lld", bar, beat, inBeat);
    return out.data();
}

}  // namespace zyr::studio
