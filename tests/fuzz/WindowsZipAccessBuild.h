// Forced into the compilation of archive/ZipAccess_win32.cpp for the fuzzers
// (-include): the few Windows C runtime names the reader uses, mapped to POSIX,
// and its entry points and records renamed to what WindowsZipAccess.h declares,
// so the Linux reader can sit beside it in one program.
#pragma once

#include "WindowsZipAccess.h"

#include <sys/stat.h>

#include <cstdio>

#define ArchiveDirectory WindowsArchiveDirectory
#define ArchiveFile WindowsArchiveFile
#define openZipDirectory windowsOpenZipDirectory
#define closeZipDirectory windowsCloseZipDirectory
#define openZipEntry windowsOpenZipEntry
#define rewindZipEntry windowsRewindZipEntry
#define readZipEntry windowsReadZipEntry
#define closeZipEntry windowsCloseZipEntry

// Paths are narrow here, and the reader only ever opens for reading.
inline std::FILE* _wfopen(const char* path, const wchar_t* /*mode*/) { return std::fopen(path, "rb"); }
inline int _fseeki64(std::FILE* file, long long offset, int origin) { return ::fseeko(file, offset, origin); }
#define _fileno fileno
#define _stat64 stat
#define _fstat64 fstat
#define _S_IFMT S_IFMT
#define _S_IFREG S_IFREG
