// An archive whose shader checks what the player feeds it: green where a rocket
// export, an imgui export and the resolution hold what the archive says (and
// the screen is 1920 x 1080), red otherwise. For end-to-end runs of the real
// binary, on Linux and under Wine.
#pragma once

#include "ZipWriter.h"

#include <vector>

// The entries of that archive, with a tone of `musicSeconds` as the soundtrack
// (the last entry, so a test can drop it).
std::vector<ZipEntry> checkingArchive(double musicSeconds);
