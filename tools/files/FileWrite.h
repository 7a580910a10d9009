// FileWrite: the one way the authoring tools put a file on disk, and read one
// they are about to rewrite. A reader of the final name sees either the old
// file or the whole new one, never a mixture, and a failure leaves the old one
// exactly as it was.
//
// Use:
//     zyr::replaceFile("tracks/cam.txt", text);            // whole or not at all
//
//     zyr::PartFile part("out/zyr.dat");                    // for writers that need a path
//     someLibrary.writeTo(part.path());                     // or part.write(bytes)
//     part.commit();                                        // now under its final name
//
//     zyr::placeNew(encoderOutput, "out/demo.mp4");         // never replaces a file
//
//     std::optional<std::string> old = zyr::readFileIfPresent("fsshader.ini");
//
// What a replacement keeps: the part file is created exclusively (under a
// fresh name, so it never opens a planted link or another writer's part) in
// the folder of the file it replaces, every write and the close are checked,
// its bytes are synced before the rename and the folder after it. On POSIX it
// takes the target's permission bits (and owner, where allowed); a new file
// gets the usual ones (0666 less the umask), and a target that is a symbolic
// link is written through: the file the link names is replaced and the link
// stays. On Windows the part replaces the target by one rename (MoveFileExW,
// written through) and takes its hidden, system and archive attributes; a
// target that another program holds open without sharing is tried again for a
// couple of seconds before that is an error. Part names end in ".part" and start with a dot, so folder scans
// and the packer recognise what an interrupted run left.
//
// Ownership: a PartFile owns its part until commit; destroyed uncommitted it
// removes the part. placeNew's source is the caller's until it has its name.
//
// Failure: FileError, whose message names the file and the reason
// ("tracks/cam.txt: cannot write: No space left on device").
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zyr {

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a part file's name ends with.
inline constexpr std::string_view kPartFileSuffix = ".part";

// The whole content of path; nullopt only when nothing has that name. A name
// that exists but cannot be read (a folder, no permission, an I/O error) is a
// FileError: never mistake an unreadable file for an empty one.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path);

// Replaces (or creates) target with bytes, through a PartFile.
void replaceFile(const std::filesystem::path& target, std::string_view bytes);

class PartFile {
public:
    // Creates the part file beside target (beside what a link at target
    // names). FileError when the folder does not take a new file.
    explicit PartFile(const std::filesystem::path& target);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // The part's name, for writers that open a path themselves; whatever file
    // has this name at commit is what takes the target's place.
    const std::filesystem::path& path() const { return part_; }
    // The file the part replaces: target with its links followed.
    const std::filesystem::path& destination() const { return destination_; }

    // Appends bytes to the part (written through the descriptor created with it).
    void write(std::string_view bytes);
    // Syncs and closes the part, gives it the target's mode, renames it over
    // the target and syncs the folder. Any failure removes the part and
    // leaves the target untouched.
    void commit();

private:
    std::filesystem::path destination_;
    std::filesystem::path part_;
    std::intptr_t file_ = -1;  // the part's descriptor (POSIX) or handle (Windows, while writing); -1 for none
    bool committed_ = false;
};

// Many whole files into one folder, as replaceFile writes each, with the
// names built in buffers kept from call to call, so that once made a series
// allocates nothing per file (a capture writes a frame at a time this way).
// One series per thread.
class FileSeries {
public:
    // FileError when the folder cannot be opened.
    explicit FileSeries(const std::filesystem::path& folder);
    ~FileSeries();
    FileSeries(const FileSeries&) = delete;
    FileSeries& operator=(const FileSeries&) = delete;

    // Replaces (or creates) folder/name with bytes. name is a plain file name
    // of at most 200 bytes.
    void replace(std::string_view name, std::string_view bytes);

private:
    using Name = std::filesystem::path::string_type;  // the system's own file name text
    Name folder_;  // ends with the separator
    Name target_;
    Name part_;
    std::intptr_t folderFile_ = -1;  // the folder's descriptor, for syncing (POSIX only)
    unsigned tagState_;
};

// The name a part file left in a folder was standing in for ("fs.glsl" for
// ".fs.glsl.k3x9q0ab.part"), or nullopt when name is no part file. Tools that
// scan folders use it to tell an interrupted write from an author's file.
std::optional<std::string_view> partFileTarget(std::string_view name);

// Gives a finished file (from is not ours to lose) the name to, which must not
// exist: an existing file is never replaced. On success from is gone. On any
// failure from stays where it is, whole, and the FileError names it, so minutes
// of work are never thrown away by a folder that refuses the last step.
void placeNew(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zyr
