// A private temporary folder for the content library's scratch files (the
// archive writer works on a file), one platform file each: mkdtemp on POSIX,
// an exclusively created folder under the user's temporary folder on Windows.
//
// Use:
//     PrivateTempFolder temp;                   // made now, empty, ours alone
//     writeSomething(temp.path() / "archive.zip");
//
// Ownership: PrivateTempFolder removes its folder and everything in it when
// destroyed.
//
// Failure: ContentError naming the temporary folder when none can be made.
#pragma once

#include <filesystem>

namespace zyr::content {

class PrivateTempFolder {
public:
    PrivateTempFolder();
    ~PrivateTempFolder();
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace zyr::content
