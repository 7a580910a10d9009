#include "Launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::pair<int, int>> sizesOf(const ResolutionList& list) {
    std::vector<std::pair<int, int>> out;
    for (const VideoModeSize& s : list.sizes) out.emplace_back(s.width, s.height);
    return out;
}

LaunchSettings staleSettings() {
    LaunchSettings settings;
    settings.width = 7;
    settings.height = 9;
    return settings;
}

} // namespace

// GLFW lists a size once per refresh rate and colour depth, ordered by depth first,
// so one size can come back several times, not always next to itself.
TEST(ResolutionList, ListsEachSizeOnceAtItsFirstOccurrenceInGlfwOrder) {
    const std::vector<VideoModeSize> modes = {
        {640, 480},   {800, 600},  {1920, 1080}, {1280, 720}, // 16-bit depth
        {640, 480},   {800, 600},  {1280, 720},  {1920, 1080}, // 24-bit depth, 60 Hz
        {1920, 1080},                                          // 24-bit depth, 144 Hz
    };
    LaunchSettings settings = staleSettings();
    const ResolutionList list = buildResolutionList(modes, {1920, 1080}, settings);

    EXPECT_EQ(list.labels,
              (std::vector<std::string>{"640 x 480", "800 x 600", "1920 x 1080", "1280 x 720"}));
    EXPECT_EQ(sizesOf(list), (std::vector<std::pair<int, int>>{{640, 480}, {800, 600}, {1920, 1080}, {1280, 720}}));
    EXPECT_EQ(list.selected, 2);
    EXPECT_EQ(settings.width, 1920u);
    EXPECT_EQ(settings.height, 1080u);
}

// Width and height must not fold into one number that swapped or shifted sizes share.
TEST(ResolutionList, KeepsSizesThatDifferOnlyInOrientationOrSplit) {
    const std::vector<VideoModeSize> modes = {{1080, 1920}, {1920, 1080}, {1024, 768}, {768, 1024}, {1, 2}, {2, 1}};
    LaunchSettings settings = staleSettings();
    const ResolutionList list = buildResolutionList(modes, {768, 1024}, settings);

    EXPECT_EQ(list.labels, (std::vector<std::string>{"1080 x 1920", "1920 x 1080", "1024 x 768", "768 x 1024",
                                                     "1 x 2", "2 x 1"}));
    EXPECT_EQ(list.selected, 3);
    EXPECT_EQ(settings.width, 768u);
    EXPECT_EQ(settings.height, 1024u);
}

// The combo box shows the first entry then, so "Run" must hand that one on.
TEST(ResolutionList, SelectsTheFirstEntryWhenTheDesktopSizeIsNotOffered) {
    const std::vector<VideoModeSize> modes = {{1024, 768}, {1280, 1024}, {1024, 768}};
    LaunchSettings settings = staleSettings();
    const ResolutionList list = buildResolutionList(modes, {2560, 1440}, settings);

    EXPECT_EQ(list.labels, (std::vector<std::string>{"1024 x 768", "1280 x 1024"}));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(settings.width, 1024u);
    EXPECT_EQ(settings.height, 768u);
}

// Only the size decides: the desktop mode's refresh rate may belong to a later
// duplicate, yet the entry sits where the size first appears.
TEST(ResolutionList, SelectsTheDesktopSizeAtItsFirstEntryEvenAsTheFirstMode) {
    const std::vector<VideoModeSize> modes = {{1920, 1080}, {800, 600}, {1920, 1080}};
    LaunchSettings settings = staleSettings();
    const ResolutionList list = buildResolutionList(modes, {1920, 1080}, settings);

    EXPECT_EQ(list.labels, (std::vector<std::string>{"1920 x 1080", "800 x 600"}));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(settings.width, 1920u);
    EXPECT_EQ(settings.height, 1080u);
}

TEST(ResolutionList, OffersTheDesktopSizeAloneWhenTheMonitorListsNoModes) {
    LaunchSettings settings = staleSettings();
    const ResolutionList list = buildResolutionList({}, {1366, 768}, settings);

    EXPECT_EQ(list.labels, (std::vector<std::string>{"1366 x 768"}));
    EXPECT_EQ(sizesOf(list), (std::vector<std::pair<int, int>>{{1366, 768}}));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(settings.width, 1366u);
    EXPECT_EQ(settings.height, 768u);
}
