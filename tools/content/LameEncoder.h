// The content library's reach outside the process: a private temporary folder,
// and the lame MP3 encoder run as a child process, with the settings the
// soundtrack has always been encoded with.
//
// Use:
//     PrivateTempFolder temp;                    // mode 0700, under $TMPDIR or /tmp
//     std::string mp3 = encodeMp3(wavBytes);     // lame --quiet -b 192
//
// Ownership: PrivateTempFolder removes its folder and everything in it when
// destroyed. encodeMp3 keeps nothing.
//
// Failure: ContentError naming lame (not installed, killed, non-zero exit) or
// the temporary folder (cannot create or write). Safe to call from several
// threads at once: each call has its own folder and child.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

std::string encodeMp3(std::string_view wav);

}  // namespace zyr::content
