#include "FolderWatch.h"

#include "PathText.h"
#include "WindowsText_win32.h"

#include <windows.h>

#include <stdexcept>
#include <string_view>
#include <unordered_set>

namespace zyr::studio {

namespace {

// Names coming, going or renamed, and every finished write (Windows has no
// close event; the quiet period makes a run of writes one answer).
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                           FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;

// 64 KiB is the most a watch over a network share may ask for.
constexpr DWORD kBufferBytes = 64 * 1024;

}  // namespace

// One ReadDirectoryChangesW over the whole tree, kept pending at all times
// and collected without waiting. The system reports names only, so the
// folders of the tree are kept here to tell a folder that went (every part)
// from a file that did (its own part).
struct FolderWatch::Native {
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;  // the pending read's event
    OVERLAPPED pending{};
    bool reading = false;  // a read is pending; false once the folder cannot be watched any more
    std::unordered_set<std::string> folders;  // relative, '/' between the parts
    // DWORD-aligned, as the system writes its records there.
    DWORD buffer[kBufferBytes / sizeof(DWORD)];

    ~Native() {
        if (reading) {
            CancelIoEx(folder, &pending);
            DWORD ignored = 0;
            GetOverlappedResult(folder, &pending, &ignored, TRUE);
        }
        if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
        if (done) CloseHandle(done);
    }

    bool start() {
        ResetEvent(done);
        pending = OVERLAPPED{};
        pending.hEvent = done;
        reading = ReadDirectoryChangesW(folder, buffer, kBufferBytes, TRUE, kChanges, nullptr, &pending, nullptr) != 0;
        return reading;
    }

    // Adds relative (a folder, or "" for the root's own) and every folder below it.
    void addTree(const std::filesystem::path& root, const std::string& relative) {
        if (!relative.empty()) folders.insert(relative);
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(root / pathFromUtf8(relative), error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_symlink(error)) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_directory(error)) folders.insert(toGenericUtf8(it->path().lexically_relative(root)));
        }
    }

    // Forgets relative and every folder below it; whether it was one.
    bool removeTree(const std::string& relative) {
        if (folders.erase(relative) == 0) return false;
        const std::string below = relative + "/";
        std::erase_if(folders, [&](const std::string& name) { return name.starts_with(below); });
        return true;
    }
};

FolderWatch::FolderWatch(const std::filesystem::path& folder) : folder_(folder), native_(std::make_unique<Native>()) {
    Native& n = *native_;
    n.folder = CreateFileW(folder_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (n.folder == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot watch " + toUtf8(folder) + ": " + windowsMessage(GetLastError()));
    n.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!n.done || !n.start())
        throw std::runtime_error("cannot watch " + toUtf8(folder) + ": " + windowsMessage(GetLastError()));
    // Listed once the watch runs, so a folder made meanwhile is either listed
    // or reported.
    n.addTree(folder_, "");
}

FolderWatch::~FolderWatch() = default;

void FolderWatch::read(Clock::time_point now) {
    Native& n = *native_;
    // The next read; a folder the system will not watch any more is named
    // among the failures, as one that could not be watched at all.
    const auto restart = [&] {
        if (!n.start()) failures_.push_back("stopped watching " + toUtf8(folder_) + ": " + windowsMessage(GetLastError()));
    };
    while (n.reading) {
        DWORD bytes = 0;
        if (!GetOverlappedResult(n.folder, &n.pending, &bytes, FALSE)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_INCOMPLETE) return;  // nothing more for now
            // ERROR_NOTIFY_ENUM_DIR: more changes than the buffer held; any
            // other error: the folder itself went away or stopped answering.
            // Either way every part may have changed.
            changedAll(now);
            if (error != ERROR_NOTIFY_ENUM_DIR) {
                n.reading = false;
                failures_.push_back("stopped watching " + toUtf8(folder_) + ": " + windowsMessage(error));
            } else {
                restart();
            }
            continue;
        }
        if (bytes == 0) {
            // The system lost the details: every part may have changed.
            changedAll(now);
            restart();
            continue;
        }
        // Every record is taken before the next read reuses the buffer; the
        // system keeps what happens meanwhile for it.
        const auto* at = reinterpret_cast<const unsigned char*>(n.buffer);
        std::string relative;
        for (;;) {
            const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
            const std::filesystem::path name(
                std::wstring_view(record->FileName, record->FileNameLength / sizeof(WCHAR)));
            relative = toGenericUtf8(name);
            switch (record->Action) {
            case FILE_ACTION_ADDED:
            case FILE_ACTION_RENAMED_NEW_NAME: {
                const DWORD attributes = GetFileAttributesW((folder_ / name).c_str());
                const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                    !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
                if (folder) {
                    // A folder came, with whatever it holds.
                    n.addTree(folder_, relative);
                    changedAll(now);
                } else {
                    changedFile(relative, now);
                }
                break;
            }
            case FILE_ACTION_REMOVED:
            case FILE_ACTION_RENAMED_OLD_NAME:
                if (n.removeTree(relative)) changedAll(now);
                else changedFile(relative, now);
                break;
            default:
                // Modified: a file's bytes, or a folder whose list changed
                // (its names are reported on their own, and a folder counts
                // for no part).
                changedFile(relative, now);
                break;
            }
            if (record->NextEntryOffset == 0) break;
            at += record->NextEntryOffset;
        }
        restart();
    }
}


}  // namespace zyr::studio
