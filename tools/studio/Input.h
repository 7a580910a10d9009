// Input: the studio's window events, gathered as they arrive and handed to
// the frame once, and the key table that says what each key does (the help
// overlay lists the same table, so the two never disagree).
//
// Use:
//     Input input(window);                       // before the overlays' back end, which chains it
//     every frame, after glfwPollEvents:
//         for (const Pressed& key : input.keys())
//             if (auto command = commandFor(key, prompting)) run(*command);
//         input.clearKeys();
//         input.pointer(), input.size(), input.takeDoubleClick(), input.takeJustPressed(button)
//
// Keys, presses and the pointer are recorded by the window's callbacks, not
// read back each frame: a key pressed and released within one slow frame is
// still seen, two presses within one frame are still a double-click, and a
// frame asks the X server nothing (each question is a round trip).
//
// Ownership: the input is the window's user pointer and owns its callbacks
// until destroyed; the window is borrowed and must outlive it. Fixed rings:
// recording an event never allocates.
//
// Failure: none; keys beyond 64 in one frame are dropped.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

struct GLFWwindow;

namespace zyr::studio {

enum class Command {
    Quit, PlayPause, BackBeat, NextBeat, BackBar, NextBar, Start, BackRow, NextRow, Section,
    LoopStart, LoopEnd, ClearLoop, Hud, Help, Timeline, Inspector,
    LanePrevious, LaneNext, InsertKey, DeleteKey, CycleKey, Undo, Redo, Save, TakeDisk,
    // The quit prompt's answers.
    SaveAndQuit, DiscardAndQuit, StayOpen,
};

struct Pressed {
    int key = 0;   // GLFW_KEY_*
    int mods = 0;  // GLFW_MOD_*
    bool repeat = false;
};

struct KeyCommand {
    Command command;
    int argument = 0;  // the section's number for Command::Section
};

// One row of the key table: keys key..lastKey with exactly these of Control
// and Shift held. keys and does describe the row in the help (empty: the row
// before describes it too).
struct KeyBinding {
    int key;
    int lastKey;
    int mods;
    Command command;
    bool repeats;  // a held key acts again
    const char* keys;
    const char* does;
};

std::span<const KeyBinding> keyTable();

// What a key does; while the quit prompt shows only its answers count.
std::optional<KeyCommand> commandFor(const Pressed& key, bool prompting);

class Input {
public:
    explicit Input(GLFWwindow* window);
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    std::span<const Pressed> keys() const { return {keys_.data(), keyCount_}; }
    void clearKeys() { keyCount_ = 0; }

    // A second left press came soon after one, since the last call.
    bool takeDoubleClick();
    // The button went down since the last call (held or already released).
    bool takeJustPressed(int button);

    // The pointer over the window (pixels from its top-left), when it is over
    // it or the window has the focus.
    std::optional<std::array<float, 2>> pointer() const;
    // The window's framebuffer size in pixels.
    int width() const { return width_; }
    int height() const { return height_; }

private:
    static Input* of(GLFWwindow* window);
    static void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);
    static void onMouseButton(GLFWwindow* window, int button, int action, int mods);
    static void onCursor(GLFWwindow* window, double x, double y);
    static void onEnter(GLFWwindow* window, int entered);
    static void onFocus(GLFWwindow* window, int focused);
    static void onSize(GLFWwindow* window, int width, int height);

    GLFWwindow* window_;
    std::array<Pressed, 64> keys_{};
    std::size_t keyCount_ = 0;
    std::array<bool, 5> justPressed_{};
    double lastPress_ = -1.0;  // glfwGetTime of the last left press
    bool doubleClick_ = false;
    double x_ = 0.0;
    double y_ = 0.0;
    bool inside_ = false;
    bool focused_ = false;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace zyr::studio
