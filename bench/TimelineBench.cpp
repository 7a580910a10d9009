// Timeline figures: the studio's timeline panel's processor time per frame
// with 256 lanes of 1,000 keys each, zoomed out to the whole song and zoomed
// in to 4 bars.
//
//     cd build && ./bench/bench_TimelineBench [WIDTHxHEIGHT]      # default 1920x1080
//
// The panel is drawn into ImGui's draw lists as in the studio (ruler, the
// waveform of a 90-second song, 64 groups of 4 lanes, curves through the
// player's getValue, key handles), without a window: what is measured is the
// panel's own work on the frame thread, not the GL driver's. Prints the median
// and the slowest of 300 frames for each zoom.
#include "Tempo.h"
#include "ThreadClock.h"
#include "Timeline.h"
#include "TimelinePanel.h"
#include "Transport.h"
#include "Waveform.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace zyr::studio;

constexpr int kLanes = 256;
constexpr int kKeys = 1000;
constexpr double kSongRows = 2040.0;  // 90 seconds of the demo's music
constexpr int kFrames = 300;

std::vector<Lane> makeLanes() {
    std::vector<Lane> lanes;
    static constexpr const char* kComponents[] = {".x", ".y", ".z", ".w"};
    for (int i = 0; i < kLanes; ++i) {
        Lane lane;
        lane.group = "group" + std::to_string(i / 4);
        lane.track = lane.group + kComponents[i % 4];
        for (int k = 0; k < kKeys; ++k)
            lane.keys.push_back({k * 2, std::sin(static_cast<float>(k + i) * 0.37f) * 3.0f, k % 4});
        lane.savedKeys = lane.keys;
        lane.file = "tracks/bench.txt";
        lanes.push_back(std::move(lane));
    }
    return lanes;
}

struct Figures {
    double median;
    double slowest;
};

Figures measure(TimelinePanel& panel, TimelineModel& model, const TimelineFrame& frame, float width, float height) {
    std::vector<double> times;
    for (int i = 0; i < kFrames; ++i) {
        ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
        const double start = threadCpuSeconds();
        ImGui::NewFrame();
        panel.draw(model, frame, width, height);
        ImGui::Render();
        times.push_back((threadCpuSeconds() - start) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int width = 1920;
    int height = 1080;
    if (argc > 1 && std::sscanf(argv[1], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: bench_TimelineBench [WIDTHxHEIGHT]\n");
        return 2;
    }
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    // As the studio's OpenGL back end declares: meshes past 64k vertices are split.
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
    unsigned char* pixels = nullptr;
    int atlasWidth = 0;
    int atlasHeight = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &atlasWidth, &atlasHeight);

    TimelineModel model;
    model.setLanes(makeLanes());
    const Transport transport(sectionsOrEvery16Bars({}, kSongRows), kSongRows);
    TimelinePanel panel;
    // A loud waveform of the song's length, 44.1 kHz stereo.
    const double rowsPerSecond = static_cast<double>(kBeatsPerMinute) / 60.0 * kRowsPerBeat;
    const double seconds = kSongRows / rowsPerSecond;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * 44100.0) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(std::sin(i * 0.01) * 20000.0);
    panel.setPeaks(rowPeaks(samples, 2, 44100, rowsPerSecond));

    const TimelineFrame frame{1000.0, kSongRows, true, &transport};
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    panel.showRows(0.0, kSongRows, w);
    const Figures out = measure(panel, model, frame, w, h);
    panel.showRows(1000.0, 1000.0 + 4 * kRowsPerBar, w);
    const Figures in = measure(panel, model, frame, w, h);
    std::printf("timeline, %d lanes of %d keys at %dx%d, processor ms a frame (median / slowest of %d):\n", kLanes, kKeys,
                width, height, kFrames);
    std::printf("  whole song (%.0f rows)   %.3f / %.3f\n", kSongRows, out.median, out.slowest);
    std::printf("  4 bars (128 rows)         %.3f / %.3f\n", in.median, in.slowest);
    ImGui::DestroyContext(context);
    return 0;
}
