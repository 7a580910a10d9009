// Stills of the demo for the README and for looking at the scene while
// authoring it, drawn by the player's parts (see SceneRig.h):
//
//     content_shots OUT_DIR WIDTHxHEIGHT ROW:NAME...    # OUT_DIR/NAME.png at each row
//
// Runs by hand (it needs a display); the archive is the build's zyr.dat. The
// film grain compresses badly: the stills in docs/ were made at 1280x720 and
// recompressed losslessly (ImageMagick, zlib level 9, filter 5, strategy 1) to
// stay under 1 MB each:
//     convert F.png -define png:compression-level=9 -define png:compression-filter=5
//         -define png:compression-strategy=1 F.png
#include "SceneRig.h"

#include <stb/stb_image_write.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    int width = 0;
    int height = 0;
    if (argc < 4 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: content_shots OUT_DIR WIDTHxHEIGHT ROW:NAME...\n");
        return 2;
    }
    try {
        const std::filesystem::path out = argv[1];
        std::filesystem::create_directories(out);
        SceneRig rig(ZYR_DEMO_ARCHIVE, width, height);
        for (int i = 3; i < argc; ++i) {
            const std::string shot = argv[i];
            const std::size_t colon = shot.find(':');
            if (colon == std::string::npos) throw std::runtime_error("not ROW:NAME: " + shot);
            const double row = std::stod(shot.substr(0, colon));
            rig.render(row);
            const Image image = rig.read();
            const std::string file = (out / (shot.substr(colon + 1) + ".png")).string();
            if (!stbi_write_png(file.c_str(), width, height, 3, image.rgb.data(), width * 3))
                throw std::runtime_error("cannot write " + file);
            std::printf("%s: row %.1f\n", file.c_str(), row);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "content_shots: %s\n", error.what());
        return 1;
    }
    return 0;
}
