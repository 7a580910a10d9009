// Overlays: what the studio draws over the picture with ImGui (the HUD, the
// problems, the quit prompt, the key help), the frame of ImGui they and the
// timeline and inspector are drawn in, and the HUD's figures.
//
// Use (every frame, inside Stage::present):
//     overlays.begin(input);                      // a new ImGui frame
//     ... panel.draw, inspector.draw ...
//     overlays.hud(playhead, seconds); overlays.problems(board, bottom); ...
//     overlays.end();                             // drawn into the window
//
// A new frame takes the window's size, the pointer and the buttons from the
// studio's Input, which the window's events keep up to date: the back end's
// own new frame would ask the X server for them (four round trips a frame).
//
// Ownership: owns the ImGui session (context and back ends), which must be
// made after Input installed its callbacks (the back end chains them) and
// destroyed before the window.
//
// Failure: none.
#pragma once

#include "ImGuiSession.h"
#include "Input.h"
#include "Playhead.h"
#include "Problems.h"

#include <chrono>
#include <string>

struct GLFWwindow;

namespace zyr::studio {

class Overlays {
public:
    explicit Overlays(GLFWwindow* window);

    bool hudShown() const { return hud_; }
    void toggleHud() { hud_ = !hud_; }
    void toggleHelp() { help_ = !help_; }

    // The frame's CPU time on the frame loop's thread, for the HUD's figures.
    void countFrame(double cpuSeconds);

    void begin(Input& input);
    // The HUD: time (the music's seconds), row, bar.beat.row, section, figures.
    void hud(const Playhead& playhead, double seconds);
    void problems(const ProblemBoard& board, float bottom);
    // The quit prompt, with what it would lose said.
    void quitPrompt(const std::string& what, float bottom);
    void help();
    void end();

private:
    GLFWwindow* window_;
    ImGuiSession session_;
    bool hud_ = true;
    bool help_ = false;
    double lastTime_ = -1.0;

    // HUD figures over half-second windows.
    std::chrono::steady_clock::time_point statsStart_ = std::chrono::steady_clock::now();
    int statsFrames_ = 0;
    double statsCpu_ = 0.0;
    double fps_ = 0.0;
    double cpuMs_ = 0.0;
};

}  // namespace zyr::studio
