// Launcher: the small pre-start window where the viewer picks a resolution and
// full screen, then presses "Run" or "Quit".
//
// Use:
//     LaunchSettings settings;
//     if (runLauncher(archive, settings)) window = createWindow(settings);
//
// runLauncher creates and destroys its own window (GLFW included), ImGui context
// and logo before it returns. On return, in every case, settings holds the
// selected size, the "Fullscreen" choice and the title "Tessaran 2023". It
// returns true for "Run", false for "Quit", Escape, closing the window or a
// stop request (SIGINT, SIGTERM; see StopRequest.h), which ends it within a frame.
//
// Failure: createWindow's exceptions pass through. With no primary monitor the
// run cannot open a window and throws std::runtime_error("No monitor found");
// a monitor without video modes offers its desktop mode alone.
#pragma once

#include "RenderWindow.h"

#include <cstdint>
#include <string>
#include <vector>

class ResourceArchive;

struct VideoModeSize {
    int width = 0;
    int height = 0;
};

struct ResolutionList {
    std::vector<std::string> labels;  // "1920 x 1080", display order
    std::vector<VideoModeSize> sizes; // same order and count
    int selected = 0;                 // index of the preselected entry
};

// Builds the list from the monitor's modes in GLFW's order, each size once at its
// first occurrence; preselects the desktop size (else the first entry) and puts
// the preselected size into settings. An empty mode list offers the desktop mode.
ResolutionList buildResolutionList(const std::vector<VideoModeSize>& modes, VideoModeSize desktop,
                                   LaunchSettings& settings);

bool runLauncher(ResourceArchive& archive, LaunchSettings& settings);
