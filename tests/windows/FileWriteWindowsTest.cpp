// The tools' file writer on Windows: whole or not at all under Unicode names,
// a file another program holds for a moment waited for, one held for good
// reported with the old bytes kept, and a finished file that cannot take its
// name kept under the name it has.
#include "FileWrite.h"
#include "PathText.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(zyr::toUtf8(entry.path().filename()));
    std::sort(found.begin(), found.end());
    return found;
}

// Opens path the way an editor or a scanner does that shares it with no one.
HANDLE holdWithoutSharing(const fs::path& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TEST(FileWriteWindows, ReplacesUnderUnicodeNamesAndWaitsOutAHeldFile) {
    TempDir dir;
    const fs::path folder = dir.path() / zyr::pathFromUtf8("Zoë démo");
    fs::create_directory(folder);
    const fs::path target = folder / zyr::pathFromUtf8("piste é.txt");
    zyr::replaceFile(target, "first");
    zyr::replaceFile(target, "second");
    EXPECT_EQ(readFile(target), "second");
    EXPECT_EQ(zyr::readFileIfPresent(target), "second");

    // Held for a moment: both the reader and the writer wait for it.
    HANDLE held = holdWithoutSharing(target);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread release([held] {
        std::this_thread::sleep_for(400ms);
        CloseHandle(held);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zyr::readFileIfPresent(target), "second");
    zyr::replaceFile(target, "third");
    release.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(readFile(target), "third");

    // Held for good: an error naming the file, the old one whole, no part left.
    held = holdWithoutSharing(target);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        zyr::replaceFile(target, "fourth");
        ADD_FAILURE() << "replaced a file another program holds";
    } catch (const zyr::FileError& error) {
        EXPECT_NE(std::string(error.what()).find("piste é.txt: cannot replace"), std::string::npos) << error.what();
    }
    EXPECT_THROW(zyr::readFileIfPresent(target), zyr::FileError);
    CloseHandle(held);
    EXPECT_EQ(readFile(target), "third");
    EXPECT_EQ(names(folder), std::vector<std::string>{"piste é.txt"});

    // A folder in the way stays; a missing folder is an error; nothing is left.
    fs::create_directory(folder / "held");
    EXPECT_THROW(zyr::replaceFile(folder / "held", "bytes"), zyr::FileError);
    EXPECT_THROW(zyr::replaceFile(folder / "missing" / "a.txt", "bytes"), zyr::FileError);
    EXPECT_THROW(zyr::readFileIfPresent(folder / "held"), zyr::FileError);
    EXPECT_EQ(zyr::readFileIfPresent(folder / "nothing"), std::nullopt);
    EXPECT_EQ(names(folder), (std::vector<std::string>{"held", "piste é.txt"}));

    // A writer given the part's name puts a file of its own there (libzip
    // does): that file is what takes the target's place.
    {
        zyr::PartFile part(target);
        const fs::path own = folder / "own.tmp";
        writeFile(own, "written by another writer");
        ASSERT_TRUE(MoveFileExW(own.c_str(), part.path().c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(zyr::partFileTarget(zyr::toUtf8(part.path().filename())), "piste é.txt");
        part.commit();
    }
    EXPECT_EQ(readFile(target), "written by another writer");

    zyr::FileSeries series(folder);
    series.replace("frame_000000.png", "a frame");
    series.replace("frame_000000.png", "the frame again");
    EXPECT_EQ(readFile(folder / "frame_000000.png"), "the frame again");
    EXPECT_EQ(names(folder), (std::vector<std::string>{"frame_000000.png", "held", "piste é.txt"}));
}

TEST(FileWriteWindows, AFinishedFileThatCannotTakeItsNameIsKept) {
    TempDir dir;
    const fs::path part = dir.path() / zyr::pathFromUtf8("vidéo.part.mp4");
    const fs::path video = dir.path() / zyr::pathFromUtf8("vidéo.mp4");
    writeFile(part, "minutes of encoding");
    writeFile(video, "made meanwhile");
    try {
        zyr::placeNew(part, video);
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const zyr::FileError& error) {
        EXPECT_NE(std::string(error.what()).find("kept as " + zyr::toUtf8(part)), std::string::npos) << error.what();
    }
    EXPECT_EQ(readFile(part), "minutes of encoding");
    EXPECT_EQ(readFile(video), "made meanwhile");
    fs::remove(video);
    zyr::placeNew(part, video);
    EXPECT_EQ(readFile(video), "minutes of encoding");
    EXPECT_FALSE(fs::exists(part));
}
