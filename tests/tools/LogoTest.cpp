// zyr-logo: a 280 x 128 RGBA PNG that decodes to exactly the rendered pixels,
// shows the lettering on its background, and is the same on every run.
#include "Logo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <stb/stb_image.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::uint32_t bigEndian32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

struct Rgba {
    int r, g, b, a;
};

Rgba pixel(const std::vector<std::uint8_t>& rgba, int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * zyr::kLogoWidth + static_cast<std::size_t>(x)) * 4;
    return {rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]};
}

struct StbFree {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

TEST(Logo, RendersTheLetteringOverItsBackground) {
    const std::vector<std::uint8_t> rgba = zyr::renderLogo();
    ASSERT_EQ(rgba.size(), 280u * 128u * 4u);
    for (std::size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], 255) << "pixel " << i / 4;

    // The top bar of the Z is bright and warm; the corners are dark.
    const Rgba zBar = pixel(rgba, 60, 20);
    EXPECT_GT(zBar.r, 200);
    EXPECT_GT(zBar.r + zBar.g, 350);
    for (auto [x, y] : {std::pair{0, 0}, {279, 0}, {0, 127}, {279, 127}}) {
        const Rgba corner = pixel(rgba, x, y);
        EXPECT_LT(corner.r + corner.g + corner.b, 150) << x << "," << y;
    }
    // The subtitle line is lit somewhere along its row band.
    int litSubtitle = 0;
    for (int y = 103; y < 117; ++y)
        for (int x = 40; x < 240; ++x)
            if (pixel(rgba, x, y).b > 200) ++litSubtitle;
    EXPECT_GT(litSubtitle, 200);
    // A picture, not a flat fill: gradients and glow give many colours.
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        colours.insert(static_cast<std::uint32_t>(rgba[i]) << 16 | static_cast<std::uint32_t>(rgba[i + 1]) << 8 |
                       rgba[i + 2]);
    EXPECT_GT(colours.size(), 1000u);

    EXPECT_TRUE(zyr::renderLogo() == rgba);
}

TEST(Logo, PngDecodesToTheRenderedPixels) {
    const std::vector<std::uint8_t> rgba = zyr::renderLogo();
    const std::string png = zyr::encodePng(rgba, zyr::kLogoWidth, zyr::kLogoHeight);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(bigEndian32(png, 16), 280u);
    EXPECT_EQ(bigEndian32(png, 20), 128u);
    EXPECT_EQ(png[24], 8);  // bits per channel
    EXPECT_EQ(png[25], 6);  // colour type: RGBA

    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<unsigned char, StbFree> decoded(stbi_load_from_memory(
        reinterpret_cast<const unsigned char*>(png.data()), static_cast<int>(png.size()), &width, &height, &channels, 0));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(width, 280);
    EXPECT_EQ(height, 128);
    EXPECT_EQ(channels, 4);
    EXPECT_TRUE(std::equal(rgba.begin(), rgba.end(), decoded.get()));

    EXPECT_TRUE(zyr::encodePng(rgba, zyr::kLogoWidth, zyr::kLogoHeight) == png);
    EXPECT_EQ(zyr::encodePng(rgba, zyr::kLogoWidth, zyr::kLogoHeight + 1), "");  // size mismatch
}

TEST(Logo, ToolWritesOnlyTheFileItIsGiven) {
    TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(zyr::runLogoTool({(dir / "zyr.png").string()}, out, err), 0) << err.str();
    const std::string expected = zyr::encodePng(zyr::renderLogo(), zyr::kLogoWidth, zyr::kLogoHeight);
    EXPECT_TRUE(readFile(dir / "zyr.png") == expected);
    // Running again replaces it with the same bytes and leaves nothing beside it.
    ASSERT_EQ(zyr::runLogoTool({(dir / "zyr.png").string()}, out, err), 0);
    EXPECT_TRUE(readFile(dir / "zyr.png") == expected);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1u);

    EXPECT_EQ(zyr::runLogoTool({(dir / "absent" / "zyr.png").string()}, out, err), 1);
    EXPECT_NE(err.str().find("cannot create"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(dir / "absent"));
    EXPECT_EQ(zyr::runLogoTool({}, out, err), 2);
    EXPECT_EQ(zyr::runLogoTool({"a.png", "b.png"}, out, err), 2);

#ifdef ZYR_LOGO_EXE
    // The build runs the executable; it must give the very same bytes.
    const std::string command = std::string("'") + ZYR_LOGO_EXE + "' " + (dir / "exe.png").string() + " >/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    EXPECT_TRUE(readFile(dir / "exe.png") == expected);
#endif
}
