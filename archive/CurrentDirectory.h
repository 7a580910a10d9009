// Where the presentation looks for its archive: the current working directory.
// Platform stand-in, kept in a file of its own so no other code asks which
// platform it runs on.
#pragma once

#include <filesystem>

// The current directory followed by the archive name "zyr.dat". Never throws: if
// the current directory cannot be read, the result is a path that does not exist.
std::filesystem::path defaultArchivePath();
