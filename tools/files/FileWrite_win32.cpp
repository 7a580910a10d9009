#include "FileWrite.h"

#include "PartName.h"
#include "PathText.h"
#include "WindowsText_win32.h"

#include <windows.h>

#include <chrono>
#include <thread>
#include <utility>

namespace zyr {

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// Virus scanners, indexers, backup tools and editors open files for a moment
// without sharing them; such a file is waited for this long before its
// refusal counts.
constexpr auto kHeldFileWait = 2s;
constexpr auto kHeldFileStep = 20ms;

std::string failure(const fs::path& path, const char* what, DWORD error) {
    return toUtf8(path) + ": " + what + ": " + windowsMessage(error);
}

bool isFolder(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether error may be another program holding path for a moment. A denied
// access counts too (a file being deleted or replaced by another program
// refuses every open until that ends), except on a folder, which is refused
// for good.
bool heldElsewhere(DWORD error, const wchar_t* path) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    return error == ERROR_ACCESS_DENIED && !isFolder(path);
}

// Runs attempt (true on success, false with GetLastError set) until it
// succeeds, fails for another reason, or the wait for a held path is over.
// 0 on success, else the last error.
template <typename Attempt>
DWORD patiently(const wchar_t* path, Attempt attempt) {
    const auto giveUp = std::chrono::steady_clock::now() + kHeldFileWait;
    while (true) {
        if (attempt()) return 0;
        const DWORD error = GetLastError();
        if (!heldElsewhere(error, path) || std::chrono::steady_clock::now() > giveUp) return error;
        std::this_thread::sleep_for(kHeldFileStep);
    }
}

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// Every program may read, write or rename the part while it is ours.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Fills in part's tag until an exclusive create succeeds (CREATE_NEW never
// opens what is there, a link included). INVALID_HANDLE_VALUE with the error.
HANDLE createPart(std::wstring& part, unsigned& state) {
    for (int attempt = 0; attempt < part_name::kTagAttempts; ++attempt) {
        part_name::drawTag(part, state);
        HANDLE file = CreateFileW(part.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE file, const char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes, chunk, &put, nullptr)) return false;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes += put;
        size -= put;
    }
    return true;
}

// Puts the finished part in destination's place with one rename that
// replaces (atomic on NTFS), written through to the disk. ReplaceFileW is not
// used: under Wine it replaces a folder by a file and leaves backup files
// behind when the target is held. The target's hidden, system and archive
// attributes go over to the replacement. 0, or the error.
DWORD putInPlace(const wchar_t* part, const wchar_t* destination) {
    constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD old = GetFileAttributesW(destination);
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) == 0 && (old & kKeptAttributes) != 0)
        SetFileAttributesW(part, old & kKeptAttributes);
    return patiently(destination, [&] {
        return MoveFileExW(part, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

// Flushes and closes the part's handle, then puts the part in place. 0, or the
// error of the step that failed with what it was.
DWORD finishPart(HANDLE file, const wchar_t* part, const wchar_t* destination, const char*& what) {
    what = "cannot write";
    const bool flushed = FlushFileBuffers(file) != 0;
    DWORD error = flushed ? 0 : GetLastError();
    if (!CloseHandle(file) && flushed) error = GetLastError();
    if (error != 0) return error;
    what = "cannot replace";
    return putInPlace(part, destination);
}

}  // namespace

std::optional<std::string> readFileIfPresent(const fs::path& path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const DWORD opened = patiently(path.c_str(), [&] {
        file = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) return std::nullopt;
    if (opened != 0) throw FileError(failure(path, "cannot be read", opened));
    std::string text;
    char buffer[65536];
    while (true) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            throw FileError(failure(path, "cannot be read", error));
        }
        if (got == 0) break;
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

// Windows has links too, but making one takes rights authors seldom have;
// the target is replaced as named. A file that is open cannot be renamed
// over, so the part is held open only while write() uses it: a writer given
// path() (libzip) can put its own file there.
PartFile::PartFile(const fs::path& target) : destination_(target) {
    std::wstring part = (destination_.parent_path() / "").native();
    part_name::append<wchar_t>(part, destination_.filename().native());
    unsigned state = part_name::freshSeed();
    HANDLE file = createPart(part, state);
    if (file == INVALID_HANDLE_VALUE) throw FileError(failure(target, "cannot create a file beside it", GetLastError()));
    CloseHandle(file);
    part_ = part;
}

PartFile::~PartFile() {
    if (file_ != -1) CloseHandle(handleOf(file_));
    if (!committed_) DeleteFileW(part_.c_str());
}

void PartFile::write(std::string_view bytes) {
    if (committed_) throw FileError(toUtf8(destination_) + ": written after it was committed");
    if (file_ == -1) {
        HANDLE file = CreateFileW(part_.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) throw FileError(failure(destination_, "cannot write", GetLastError()));
        file_ = reinterpret_cast<std::intptr_t>(file);
    }
    if (!writeAll(handleOf(file_), bytes.data(), bytes.size()))
        throw FileError(failure(destination_, "cannot write", GetLastError()));
}

void PartFile::commit() {
    if (committed_) return;
    if (file_ != -1) CloseHandle(handleOf(std::exchange(file_, -1)));
    // Whatever holds the part's name now is what takes the target's place:
    // its bytes reach the disk before it does.
    HANDLE file = CreateFileW(part_.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            throw FileError(toUtf8(destination_) + ": cannot write: the part file was lost");
        throw FileError(failure(destination_, "cannot write", error));
    }
    const char* what = nullptr;
    if (const DWORD error = finishPart(file, part_.c_str(), destination_.c_str(), what))
        throw FileError(failure(destination_, what, error));
    committed_ = true;
}

FileSeries::FileSeries(const fs::path& folder) : folder_((folder / "").native()), tagState_(part_name::freshSeed()) {
    if (!folder.empty() && !isFolder(folder.c_str())) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        throw FileError(
            failure(folder, "cannot be opened", attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY));
    }
    target_.reserve(folder_.size() + 256);
    part_.reserve(folder_.size() + 256);
}

FileSeries::~FileSeries() = default;

void FileSeries::replace(std::string_view name, std::string_view bytes) {
    // The name widened in place, into room reserved once.
    target_.assign(folder_);
    target_.resize(folder_.size() + name.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                           target_.data() + folder_.size(), static_cast<int>(name.size()));
    target_.resize(folder_.size() + static_cast<std::size_t>(length));
    part_.assign(folder_);
    part_name::append<wchar_t>(part_, std::wstring_view(target_).substr(folder_.size()));
    HANDLE file = createPart(part_, tagState_);
    if (file == INVALID_HANDLE_VALUE) throw FileError(failure(target_, "cannot create a file beside it", GetLastError()));
    const char* what = "cannot write";
    DWORD error = 0;
    if (!writeAll(file, bytes.data(), bytes.size())) {
        error = GetLastError();
        CloseHandle(file);
    } else {
        error = finishPart(file, part_.c_str(), target_.c_str(), what);
    }
    if (error != 0) {
        DeleteFileW(part_.c_str());
        throw FileError(failure(target_, what, error));
    }
}

void placeNew(const fs::path& from, const fs::path& to) {
    // MoveFileExW without MOVEFILE_REPLACE_EXISTING refuses an existing name.
    const DWORD error =
        patiently(from.c_str(), [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0; });
    if (error == 0) return;
    const std::string kept = "; the finished file is kept as " + toUtf8(from);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        throw FileError(toUtf8(to) + ": already exists (made while this ran), and is never replaced" + kept);
    throw FileError(toUtf8(to) + ": cannot take this name: " + windowsMessage(error) + kept);
}

}  // namespace zyr
