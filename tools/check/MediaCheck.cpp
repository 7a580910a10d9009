#include "CheckSteps.h"

#include "AudioLayer.h"
#include "ResourceArchive.h"
#include "ImageDecode.h"

#include <string>

namespace {

constexpr const char* kSoundtrack = "soundtrack.mp3";
constexpr const char* kLogo = "zyr.png";

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
    // The launcher's own decode, with its bounds: what it refuses, the checker reports.
    const DecodedImage image = decodeImage(bytes->data(), bytes->size());
    logo.width = image.width;
    logo.height = image.height;
    const std::string size = std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels";
    switch (image.failure) {
    case ImageFailure::None:
        break;
    case ImageFailure::NotAnImage:
        undecodable(image.reason.empty() ? "unknown format" : image.reason);
        return;
    case ImageFailure::DamagedPng:
        undecodable("a PNG chunk runs past the end of the file");
        return;
    case ImageFailure::DecodeFailed:
        undecodable(image.reason.empty() ? "decoder failed" : image.reason);
        return;
    case ImageFailure::TooLarge:
        report.add(Severity::Error, "logo.too-large", kLogo,
                   size + ": beyond " + std::to_string(kMaxTextureSide) + " a side, the launcher shows no logo");
        return;
    case ImageFailure::OverBudget:
        report.add(Severity::Error, "logo.too-large", kLogo,
                   size + " from " + std::to_string(bytes->size()) + " bytes: decoding would take more than the " +
                       std::to_string(decodeBudget(bytes->size()) >> 20) +
                       " MiB a file of this size may, the launcher shows no logo");
        return;
    }
    logo.decodable = true;
    if (image.width != kLogoWidth || image.height != kLogoHeight) {
        report.add(Severity::Warning, "logo.size", kLogo,
                   size + ", shown stretched to " + std::to_string(kLogoWidth) + " x " + std::to_string(kLogoHeight));
    }
}
