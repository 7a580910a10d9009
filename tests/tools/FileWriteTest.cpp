// The tools' one way of writing a file: a reader sees the old file or the whole
// new one, a failure leaves the old one as it was, and a finished file that
// cannot take its name is kept, never deleted.
#include "FileWrite.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

// Nothing but the named files: no part file survives a write, good or bad.
std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

TEST(FileWrite, ReplacesWholeKeepingModeAndLinksAndFailsWithoutTouchingTheOld) {
    TempDir dir;
    writeFile(dir / "a.txt", "old");
    ::chmod((dir / "a.txt").c_str(), 0640);
    fs::create_symlink("a.txt", dir / "link.txt");

    zyr::replaceFile(dir / "link.txt", "new through the link");
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(readFile(dir / "a.txt"), "new through the link");
    EXPECT_EQ(modeOf(dir / "a.txt"), 0640u);
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.txt", "link.txt"}));

    // A folder under the target's name cannot be replaced by a file: it stays.
    fs::create_directory(dir / "held");
    writeFile(dir / "held" / "inside", "x");
    EXPECT_THROW(zyr::replaceFile(dir / "held", "bytes"), zyr::FileError);
    EXPECT_EQ(readFile(dir / "held" / "inside"), "x");
    EXPECT_THROW(zyr::replaceFile(dir / "missing" / "a.txt", "bytes"), zyr::FileError);
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.txt", "held", "link.txt"}));

    // A disk that fills up mid-write (a file-size limit stands in for it, in a
    // child so the limit dies with it): the old file is whole, no part is left.
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            zyr::replaceFile(dir / "a.txt", std::string(1 << 20, 'z'));
        } catch (const zyr::FileError& e) {
            _exit(std::string(e.what()).find("a.txt: cannot write: File too large") != std::string::npos ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(dir / "a.txt"), "new through the link");
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.txt", "held", "link.txt"}));

    // What an interrupted write leaves is known for what it stood in for, and
    // the many-files writer keeps the same promises.
    {
        zyr::PartFile pending(dir / "fsshader.ini");
        EXPECT_EQ(zyr::partFileTarget(pending.path().filename().string()), "fsshader.ini");
        EXPECT_EQ(zyr::partFileTarget("fsshader.ini.part"), std::nullopt);
    }
    zyr::FileSeries series(dir.path());
    series.replace("a.txt", "from a series");
    series.replace("b.txt", "second");
    EXPECT_EQ(modeOf(dir / "a.txt"), 0640u);
    EXPECT_EQ(readFile(dir / "b.txt"), "second");
    EXPECT_THROW(series.replace("held", "bytes"), zyr::FileError);
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.txt", "b.txt", "held", "link.txt"}));
    fs::remove(dir / "b.txt");
    writeFile(dir / "a.txt", "new through the link");

    // Unreadable is an error, missing is nothing, and neither is "empty".
    EXPECT_EQ(zyr::readFileIfPresent(dir / "nothing"), std::nullopt);
    EXPECT_THROW(zyr::readFileIfPresent(dir / "held"), zyr::FileError);
    EXPECT_EQ(zyr::readFileIfPresent(dir / "link.txt"), "new through the link");
}

TEST(FileWrite, ConcurrentWritersNeverShowAReaderAMixture) {
    TempDir dir;
    const fs::path target = dir / "shared.bin";
    writeFile(target, std::string(100000, 'a'));
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::thread reader([&] {
        while (!done) {
            const std::string now = readFile(target);
            ASSERT_EQ(now.size(), 100000u);
            ASSERT_EQ(now.find_first_not_of(now[0]), std::string::npos) << "a torn file";
            ++seen;
        }
    });
    std::vector<std::thread> writers;
    for (char c : {'b', 'c', 'd'})
        writers.emplace_back([&, c] {
            for (int i = 0; i < 30; ++i) zyr::replaceFile(target, std::string(100000, c));
        });
    for (std::thread& writer : writers) writer.join();
    done = true;
    reader.join();
    EXPECT_GT(seen.load(), 0);
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"shared.bin"});
}

TEST(FileWrite, AFinishedFileThatCannotTakeItsNameIsKeptAndNamed) {
    TempDir dir;
    writeFile(dir / "video.part.mp4", "minutes of encoding");
    writeFile(dir / "video.mp4", "made while the capture ran");
    try {
        zyr::placeNew(dir / "video.part.mp4", dir / "video.mp4");
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const zyr::FileError& e) {
        EXPECT_NE(std::string(e.what()).find((dir / "video.part.mp4").string()), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(dir / "video.part.mp4"), "minutes of encoding");
    EXPECT_EQ(readFile(dir / "video.mp4"), "made while the capture ran");

    fs::remove(dir / "video.mp4");
    zyr::placeNew(dir / "video.part.mp4", dir / "video.mp4");
    EXPECT_EQ(readFile(dir / "video.mp4"), "minutes of encoding");
    EXPECT_FALSE(fs::exists(dir / "video.part.mp4"));
}
