// Tempo: the music's beat, which the presentation's clock counts in rows (8 a
// beat). The player, the offline renderer, the checker and the studio all
// clock by this one number, so a row means the same music in each.
//
// Use: Soundtrack music(archive, "soundtrack.mp3", kBeatsPerMinute);
//
// Ownership and failure: a constant.
#pragma once

inline constexpr float kBeatsPerMinute = 170.0f;
