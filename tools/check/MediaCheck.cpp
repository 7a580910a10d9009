#include "CheckSteps.h"

#include "AudioLayer.h"
#include "ResourceArchive.h"
#include "ImageDecode.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

constexpr const char* kSoundtrack = "soundtrack.mp3";
constexpr const char* kLogo = "zyr.png";

struct PixelsDeleter {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

void checkSoundtrack(ResourceArchive& archive, CheckReport& report) {
    SoundtrackReport& soundtrack = report.soundtrack;
    const std::optional<std::vector<std::uint8_t>> bytes = readEntryBytes(archive, kSoundtrack);
    soundtrack.present = bytes.has_value();
    if (!bytes) {
        report.add(Severity::Error, "soundtrack.missing", kSoundtrack,
                   "no soundtrack.mp3: the player stops at start (\"Unable to open soundtrack file\")" +
                       entryHint(report, kSoundtrack));
        return;
    }

    // The player's own audio layer decides, on the offline clock: it opens no
    // output device, and a prescanned stream knows its exact length.
    audioUseOfflineClock(true);
    const bool ownDevice = audioInit(0, 44100);
    const AudioStream stream = audioStreamCreate(bytes->data(), 0, bytes->size(), kAudioPrescan);
    soundtrack.decodable = stream != 0;
    AudioInfo info;
    if (soundtrack.decodable && audioChannelGetInfo(stream, &info)) {
        soundtrack.sampleRate = static_cast<long>(info.frequency);
        soundtrack.channels = static_cast<int>(info.channels);
        soundtrack.seconds = audioChannelBytes2Seconds(stream, audioChannelGetLength(stream));
        soundtrack.rows = *soundtrack.seconds * kRowsPerSecond;
    }
    audioStreamFree(stream);
    if (ownDevice) audioFree();
    audioUseOfflineClock(false);

    if (!soundtrack.decodable) {
        report.add(Severity::Error, "soundtrack.undecodable", kSoundtrack,
                   "does not decode as MP3 audio: the music never plays and the presentation ends after its "
                   "first frame");
    }
}

void checkLogo(ResourceArchive& archive, CheckReport& report) {
    LogoReport& logo = report.logo;
    const std::optional<std::vector<std::uint8_t>> bytes = readEntryBytes(archive, kLogo);
    logo.present = bytes.has_value();
    if (!bytes) {
        report.add(Severity::Warning, "logo.missing", kLogo,
                   "no zyr.png: the launcher shows no logo" + entryHint(report, kLogo));
        return;
    }
    const auto undecodable = [&](const std::string& why) {
        report.add(Severity::Error, "logo.undecodable", kLogo, "does not decode as an image (" + why +
                                                                   "): the launcher shows no logo");
    };
    if (bytes->empty() || bytes->size() > static_cast<std::size_t>(INT_MAX)) {
        undecodable(bytes->empty() ? "empty file" : "too large");
        return;
    }
    if (!pngChunksFit(bytes->data(), bytes->size())) {
        undecodable("a PNG chunk runs past the end of the file");
        return;
    }
    const int length = static_cast<int>(bytes->size());
    int width = 0;
    int height = 0;
    int channels = 0;
    // The header first: it alone may ask for an enormous allocation, which the
    // player refuses beyond kMaxTextureSide and so does the checker.
    if (!stbi_info_from_memory(bytes->data(), length, &width, &height, &channels)) {
        const char* reason = stbi_failure_reason();
        undecodable(reason ? reason : "unknown format");
        return;
    }
    logo.width = width;
    logo.height = height;
    if (width <= 0 || height <= 0 || width > kMaxTextureSide || height > kMaxTextureSide) {
        report.add(Severity::Error, "logo.too-large", kLogo,
                   std::to_string(width) + " x " + std::to_string(height) + " pixels: beyond " +
                       std::to_string(kMaxTextureSide) + " a side, the launcher shows no logo");
        return;
    }
    const std::unique_ptr<stbi_uc, PixelsDeleter> pixels(
        stbi_load_from_memory(bytes->data(), length, &width, &height, &channels, 4));
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        undecodable(reason ? reason : "decoder failed");
        return;
    }
    logo.decodable = true;
    logo.width = width;
    logo.height = height;
    if (width != kLogoWidth || height != kLogoHeight) {
        report.add(Severity::Warning, "logo.size", kLogo,
                   std::to_string(width) + " x " + std::to_string(height) + " pixels, shown stretched to " +
                       std::to_string(kLogoWidth) + " x " + std::to_string(kLogoHeight));
    }
}
