#include "MemoryArchive.h"

#include "WindowsText_win32.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

namespace zyr::studio {

namespace {

std::atomic<unsigned> made{0};
std::atomic<bool> swept{false};

constexpr const wchar_t* kPrefix = L"zyr-studio-";
constexpr const wchar_t* kSuffix = L".zip";

// The archive reader opens its file without letting anyone delete it, so the
// system cannot be asked to delete this one on close while the reader holds
// it. Instead, every such file is held open, without that share, by the
// studio that made it for as long as it lives: a delete of one fails exactly
// while its studio runs, and one that succeeds was left by a studio that did
// not get to clean up.
void deleteLeftovers(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + kPrefix + L"*" + kSuffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A file of our own in the user's temporary folder, created new (never one
// that is there) and kept in the cache rather than written out.
HANDLE createPrivateFile(std::wstring& name) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return INVALID_HANDLE_VALUE;
    const std::wstring folder(buffer, length);
    if (!swept.exchange(true)) deleteLeftovers(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + kPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(made++) + L"-" +
               std::to_wstring(GetTickCount64()) + kSuffix;
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes.data(), chunk, &put, nullptr)) return false;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes.remove_prefix(put);
    }
    return true;
}

}  // namespace

MemoryArchive::MemoryArchive(std::string_view bytes) {
    std::wstring name;
    HANDLE file = createPrivateFile(name);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot make a temporary archive: " + windowsMessage(GetLastError()));
    if (!writeAll(file, bytes)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        DeleteFileW(name.c_str());
        throw std::runtime_error("cannot fill the temporary archive: " + windowsMessage(error));
    }
    file_ = reinterpret_cast<std::intptr_t>(file);
    path_ = name;
    // The archive opens the file by name and keeps a handle of its own. A
    // constructor that throws runs no destructor, so the file goes here.
    try {
        archive_ = std::make_unique<ResourceArchive>(path_);
    } catch (...) {
        CloseHandle(file);
        DeleteFileW(name.c_str());
        throw;
    }
}

MemoryArchive::~MemoryArchive() {
    archive_.reset();
    if (file_ == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(file_));
    DeleteFileW(path_.c_str());
}

}  // namespace zyr::studio
