// Transport: what each studio key does to the music position, and the HUD's
// reading of a position, with no window or sound involved.
//
// Use:
//     Transport transport(sections, lengthRows);
//     std::optional<double> row = transport.target(Key::NextBeat, currentRow);   // where to seek
//     transport.setLoopStart(currentRow);
//     if (auto back = transport.wrap(currentRow)) seek(*back);   // every frame while playing
//     formatPosition(seconds, row, text);                        // "0:03.529  row 80  3.3.0"
//
// Rows run at 8 a beat and 32 a bar. Every target is clamped to the music
// (0 to lengthRows). The loop runs from its start to its end once both are set
// with the end after the start.
//
// Ownership: plain values; the sections are copied in.
// Failure: none; a key with nothing to do (a section the song lacks) gives no
// target.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zyr::studio {

constexpr double kRowsPerBeat = 8.0;
constexpr double kRowsPerBar = 32.0;

struct SongSection {
    std::string name;
    double startRow = 0.0;
};

// The song's sections, or for music without an arrangement one every 16 bars
// ("bars 1-16", "bars 17-32", ...) up to lengthRows.
std::vector<SongSection> sectionsOrEvery16Bars(std::vector<SongSection> sections, double lengthRows);

enum class Move { BackBeat, NextBeat, BackBar, NextBar, Start, BackRow, NextRow, Section };

class Transport {
public:
    Transport(std::vector<SongSection> sections, double lengthRows);

    // Where the key takes a position at row; section is 1-based for Move::Section.
    std::optional<double> target(Move move, double row, int section = 0) const;

    void setLoopStart(double row) { loopStart_ = row; }
    void setLoopEnd(double row) { loopEnd_ = row; }
    void clearLoop() {
        loopStart_.reset();
        loopEnd_.reset();
    }
    bool looping() const { return loopStart_ && loopEnd_ && *loopEnd_ > *loopStart_; }
    double loopStart() const { return loopStart_.value_or(0.0); }
    double loopEnd() const { return loopEnd_.value_or(0.0); }
    // The loop's start when row has reached its end.
    std::optional<double> wrap(double row) const;

    void setLength(double lengthRows) { length_ = lengthRows; }
    double length() const { return length_; }
    const std::vector<SongSection>& sections() const { return sections_; }
    // Name of the section row falls in; empty before the first.
    const std::string& sectionAt(double row) const;

private:
    std::vector<SongSection> sections_;
    double length_;
    std::optional<double> loopStart_;
    std::optional<double> loopEnd_;
};

// "m:ss.mmm" of seconds into out (at least 16 bytes); returns out.
const char* formatTime(double seconds, std::span<char> out);
// "bar.beat.row" of row (bars and beats from 1, the row within the beat from 0).
const char* formatBarBeat(double row, std::span<char> out);

}  // namespace zyr::studio
