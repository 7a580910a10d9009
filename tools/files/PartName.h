// How part files are named, shared by FileWrite's platform files (nothing
// else includes it): ".<name>.<tag>.part" beside the target, the tag drawn
// afresh until an exclusive create succeeds.
#pragma once

#include "FileWrite.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace zyr::part_name {

// Room kept in a name for the dot, the tag and the suffix within 255 characters.
inline constexpr std::size_t kLongestStem = 200;
inline constexpr std::size_t kTagLength = 8;
inline constexpr char kTagChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// A seed no other process is likely to share.
unsigned freshSeed();

// Appends ".<name>.xxxxxxxx.part" to part (a folder ending with a separator,
// or empty); the x's are the tag's place.
template <typename Char>
void append(std::basic_string<Char>& part, std::basic_string_view<Char> name) {
    part += Char('.');
    part.append(name.substr(0, kLongestStem));
    part += Char('.');
    part.append(kTagLength, Char('x'));
    for (char c : kPartFileSuffix) part += Char(c);
}

// Fills the tag of a name append made with the next draw from state.
template <typename Char>
void drawTag(std::basic_string<Char>& part, unsigned& state) {
    const std::size_t tagAt = part.size() - kPartFileSuffix.size() - kTagLength;
    for (std::size_t i = 0; i < kTagLength; ++i) {
        state = state * 1664525u + 1013904223u;
        part[tagAt + i] = Char(kTagChars[(state >> 16) % (sizeof kTagChars - 1)]);
    }
}

// Exclusive creates tried with fresh tags before the folder is given up on.
inline constexpr int kTagAttempts = 100;

}  // namespace zyr::part_name
