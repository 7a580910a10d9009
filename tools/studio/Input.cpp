#include "Input.h"

#include <GLFW/glfw3.h>

namespace zyr::studio {

namespace {

constexpr int kControl = GLFW_MOD_CONTROL;
constexpr int kShift = GLFW_MOD_SHIFT;

constexpr KeyBinding kKeys[] = {
    {GLFW_KEY_SPACE, GLFW_KEY_SPACE, 0, Command::PlayPause, false, "Space", "play / pause"},
    {GLFW_KEY_LEFT, GLFW_KEY_LEFT, 0, Command::BackBeat, true, "Left / Right", "back / forward one beat (8 rows)"},
    {GLFW_KEY_RIGHT, GLFW_KEY_RIGHT, 0, Command::NextBeat, true, "", ""},
    {GLFW_KEY_PAGE_UP, GLFW_KEY_PAGE_UP, 0, Command::BackBar, true, "Page Up / Page Down", "back / forward one bar (32 rows)"},
    {GLFW_KEY_PAGE_DOWN, GLFW_KEY_PAGE_DOWN, 0, Command::NextBar, true, "", ""},
    {GLFW_KEY_HOME, GLFW_KEY_HOME, 0, Command::Start, false, "Home", "row 0"},
    {GLFW_KEY_COMMA, GLFW_KEY_COMMA, 0, Command::BackRow, true, ", / .", "back / forward one row"},
    {GLFW_KEY_PERIOD, GLFW_KEY_PERIOD, 0, Command::NextRow, true, "", ""},
    {GLFW_KEY_1, GLFW_KEY_9, 0, Command::Section, false, "1 to 9", "start of section 1 to 9"},
    {GLFW_KEY_LEFT_BRACKET, GLFW_KEY_LEFT_BRACKET, 0, Command::LoopStart, false, "[ / ]", "set loop start / end at the playhead"},
    {GLFW_KEY_RIGHT_BRACKET, GLFW_KEY_RIGHT_BRACKET, 0, Command::LoopEnd, false, "", ""},
    {GLFW_KEY_BACKSPACE, GLFW_KEY_BACKSPACE, 0, Command::ClearLoop, false, "Backspace", "clear the loop"},
    {GLFW_KEY_H, GLFW_KEY_H, 0, Command::Hud, false, "H", "HUD on / off"},
    {GLFW_KEY_F1, GLFW_KEY_F1, 0, Command::Help, false, "F1", "this help"},
    {GLFW_KEY_ESCAPE, GLFW_KEY_ESCAPE, 0, Command::Quit, false, "Escape", "quit (asks first about unsaved edits)"},
    {GLFW_KEY_T, GLFW_KEY_T, 0, Command::Timeline, false, "T", "timeline on / off"},
    {GLFW_KEY_UP, GLFW_KEY_UP, 0, Command::LanePrevious, true, "Up / Down", "previous / next lane"},
    {GLFW_KEY_DOWN, GLFW_KEY_DOWN, 0, Command::LaneNext, true, "", ""},
    {GLFW_KEY_I, GLFW_KEY_I, 0, Command::InsertKey, false, "I", "insert a key at the playhead"},
    {GLFW_KEY_DELETE, GLFW_KEY_DELETE, 0, Command::DeleteKey, false, "Delete", "delete the key at the playhead (or the selected key)"},
    {GLFW_KEY_K, GLFW_KEY_K, 0, Command::CycleKey, false, "K", "cycle the interpolation: step, linear, smooth, ramp"},
    {GLFW_KEY_Z, GLFW_KEY_Z, kControl, Command::Undo, false, "Ctrl+Z / Ctrl+Shift+Z", "undo / redo"},
    {GLFW_KEY_Z, GLFW_KEY_Z, kControl | kShift, Command::Redo, false, "", ""},
    {GLFW_KEY_S, GLFW_KEY_S, kControl, Command::Save, false, "Ctrl+S", "save the edited tracks into tracks/*.txt"},
    {GLFW_KEY_R, GLFW_KEY_R, 0, Command::TakeDisk, false, "R", "after a change on disk: take the files, drop the edits"},
    {GLFW_KEY_U, GLFW_KEY_U, 0, Command::Inspector, false, "U", "uniform inspector"},
};

constexpr KeyBinding kPromptKeys[] = {
    {GLFW_KEY_S, GLFW_KEY_S, 0, Command::SaveAndQuit, false, "S", "save and quit"},
    {GLFW_KEY_D, GLFW_KEY_D, 0, Command::DiscardAndQuit, false, "D", "discard and quit"},
    {GLFW_KEY_C, GLFW_KEY_C, 0, Command::StayOpen, false, "C", "cancel"},
    {GLFW_KEY_ESCAPE, GLFW_KEY_ESCAPE, 0, Command::StayOpen, false, "", ""},
};

}  // namespace

std::span<const KeyBinding> keyTable() { return kKeys; }

std::optional<KeyCommand> commandFor(const Pressed& key, bool prompting) {
    const int mods = key.mods & (kControl | kShift);
    for (const KeyBinding& binding : prompting ? std::span<const KeyBinding>(kPromptKeys) : keyTable()) {
        if (key.key < binding.key || key.key > binding.lastKey) continue;
        // Shift alone never stops a plain key (a keyboard may need it); Control does.
        if (binding.mods != 0 ? mods != binding.mods : (mods & kControl) != 0) continue;
        if (key.repeat && !binding.repeats) return std::nullopt;
        return KeyCommand{binding.command, key.key - binding.key + 1};
    }
    return std::nullopt;
}

Input::Input(GLFWwindow* window) : window_(window) {
    glfwSetWindowUserPointer(window, this);
    glfwSetKeyCallback(window, &Input::onKey);
    glfwSetMouseButtonCallback(window, &Input::onMouseButton);
    glfwSetCursorPosCallback(window, &Input::onCursor);
    glfwSetCursorEnterCallback(window, &Input::onEnter);
    glfwSetWindowFocusCallback(window, &Input::onFocus);
    glfwSetFramebufferSizeCallback(window, &Input::onSize);
    // Once at the start; from then on the callbacks keep them.
    glfwGetFramebufferSize(window, &width_, &height_);
    glfwGetCursorPos(window, &x_, &y_);
    focused_ = glfwGetWindowAttrib(window, GLFW_FOCUSED) == GLFW_TRUE;
    inside_ = glfwGetWindowAttrib(window, GLFW_HOVERED) == GLFW_TRUE;
}

Input::~Input() { glfwSetWindowUserPointer(window_, nullptr); }

Input* Input::of(GLFWwindow* window) { return static_cast<Input*>(glfwGetWindowUserPointer(window)); }

void Input::onKey(GLFWwindow* window, int key, int, int action, int mods) {
    Input* self = of(window);
    if (!self || action == GLFW_RELEASE || self->keyCount_ == self->keys_.size()) return;
    self->keys_[self->keyCount_++] = Pressed{key, mods, action == GLFW_REPEAT};
}

void Input::onMouseButton(GLFWwindow* window, int button, int action, int) {
    Input* self = of(window);
    if (!self || action != GLFW_PRESS) return;
    if (button >= 0 && static_cast<std::size_t>(button) < self->justPressed_.size()) self->justPressed_[button] = true;
    if (button != GLFW_MOUSE_BUTTON_LEFT) return;
    // Timed as they arrive, not by frame: two presses within one slow frame
    // are still a double-click.
    const double now = glfwGetTime();
    if (now - self->lastPress_ < 0.5) self->doubleClick_ = true;
    self->lastPress_ = now;
}

void Input::onCursor(GLFWwindow* window, double x, double y) {
    if (Input* self = of(window)) {
        self->x_ = x;
        self->y_ = y;
    }
}

void Input::onEnter(GLFWwindow* window, int entered) {
    if (Input* self = of(window)) self->inside_ = entered == GLFW_TRUE;
}

void Input::onFocus(GLFWwindow* window, int focused) {
    if (Input* self = of(window)) self->focused_ = focused == GLFW_TRUE;
}

void Input::onSize(GLFWwindow* window, int width, int height) {
    if (Input* self = of(window)) {
        self->width_ = width;
        self->height_ = height;
    }
}

bool Input::takeDoubleClick() {
    const bool was = doubleClick_;
    doubleClick_ = false;
    return was;
}

bool Input::takeJustPressed(int button) {
    if (button < 0 || static_cast<std::size_t>(button) >= justPressed_.size()) return false;
    const bool was = justPressed_[button];
    justPressed_[button] = false;
    return was;
}

std::optional<std::array<float, 2>> Input::pointer() const {
    if (!inside_ && !focused_) return std::nullopt;
    return std::array<float, 2>{static_cast<float>(x_), static_cast<float>(y_)};
}

}  // namespace zyr::studio
