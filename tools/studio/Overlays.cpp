#include "Overlays.h"

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

namespace zyr::studio {

namespace {

constexpr ImGuiWindowFlags kPanel = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                    ImGuiWindowFlags_NoInputs | ImGuiWindowFlags_NoSavedSettings |
                                    ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav;

// What the help lists beside the key table: the pointer and the folder.
constexpr std::pair<const char*, const char*> kMoreHelp[] = {
    {"drag a key", "move it (whole rows; beats with Shift)"},
    {"double-click a key", "type its exact value and row"},
    {"", "saving a file in the folder reloads it"},
};

}  // namespace

Overlays::Overlays(GLFWwindow* window) : window_(window), session_(window) {
    // The pointer's shape is the back end's new frame's work, which is not run.
    ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
}

void Overlays::countFrame(double cpuSeconds) {
    statsCpu_ += cpuSeconds;
    ++statsFrames_;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - statsStart_).count();
    if (elapsed < 0.5) return;
    fps_ = statsFrames_ / elapsed;
    cpuMs_ = statsCpu_ * 1000.0 / statsFrames_;
    statsStart_ = now;
    statsFrames_ = 0;
    statsCpu_ = 0.0;
}

void Overlays::begin(Input& input) {
    ImGui_ImplOpenGL3_NewFrame();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(static_cast<float>(input.width()), static_cast<float>(input.height()));
    io.DisplayFramebufferScale = ImVec2(1.0f, 1.0f);
    const double now = glfwGetTime();
    io.DeltaTime = lastTime_ > 0.0 ? static_cast<float>(std::max(now - lastTime_, 1e-4)) : 1.0f / 60.0f;
    lastTime_ = now;
    // A press that came and went within the frame still counts as held in it.
    for (int button = 0; button < IM_ARRAYSIZE(io.MouseDown); ++button)
        io.MouseDown[button] = input.takeJustPressed(button) || glfwGetMouseButton(window_, button) == GLFW_PRESS;
    const auto pointer = input.pointer();
    io.MousePos = pointer ? ImVec2((*pointer)[0], (*pointer)[1]) : ImVec2(-FLT_MAX, -FLT_MAX);
    ImGui::NewFrame();
}

void Overlays::hud(const Playhead& playhead, double seconds) {
    if (!hud_) return;
    const double row = playhead.row();
    std::array<char, 32> time{};
    std::array<char, 32> beat{};
    ImGui::SetNextWindowPos(ImVec2(6.0f, 6.0f));
    ImGui::SetNextWindowBgAlpha(0.6f);
    if (ImGui::Begin("HUD", nullptr, kPanel)) {
        ImGui::Text("%s  row %lld  %s", formatTime(seconds, time), static_cast<long long>(std::floor(row)),
                    formatBarBeat(row, beat));
        ImGui::Text("%s", playhead.transport().sectionAt(row).c_str());
        ImGui::Text("%.0f fps  %.2f ms cpu", fps_, cpuMs_);
        if (playhead.paused()) ImGui::Text("paused");
        const Transport& transport = playhead.transport();
        if (transport.looping())
            ImGui::Text("loop %lld-%lld", static_cast<long long>(std::floor(transport.loopStart())),
                        static_cast<long long>(std::floor(transport.loopEnd())));
    }
    ImGui::End();
}

void Overlays::problems(const ProblemBoard& board, float bottom) {
    if (!board.any()) return;
    const ImVec2 size = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(6.0f, bottom - 6.0f), ImGuiCond_Always, ImVec2(0.0f, 1.0f));
    ImGui::SetNextWindowSizeConstraints(ImVec2(0.0f, 0.0f), ImVec2(size.x - 12.0f, size.y * 0.6f));
    ImGui::SetNextWindowBgAlpha(0.85f);
    if (ImGui::Begin("Problems", nullptr, kPanel)) {
        for (const auto& [part, list] : board.all()) {
            for (const Problem& problem : list) {
                ImGui::TextColored(ImVec4(1.0f, 0.45f, 0.4f, 1.0f), "%s%s%s", problem.where.c_str(),
                                   problem.where.empty() ? "" : ": ", problem.message.c_str());
                if (problem.source.empty()) continue;
                ImGui::Text("    %s", problem.source.c_str());
                if (problem.column > 0) ImGui::Text("    %*s^", problem.column - 1, "");
            }
        }
    }
    ImGui::End();
}

void Overlays::quitPrompt(const std::string& what, float bottom) {
    ImGui::SetNextWindowPos(ImVec2(ImGui::GetIO().DisplaySize.x * 0.5f, bottom * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowBgAlpha(0.9f);
    if (ImGui::Begin("Quit", nullptr, kPanel)) {
        ImGui::Text("Unsaved edits: %s.", what.c_str());
        ImGui::Text("S  save and quit    D  discard and quit    C  cancel");
    }
    ImGui::End();
}

void Overlays::help() {
    if (!help_) return;
    const ImVec2 size = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(size.x * 0.5f, size.y * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowBgAlpha(0.85f);
    if (ImGui::Begin("Keys", nullptr, kPanel)) {
        for (const KeyBinding& binding : keyTable())
            if (binding.keys[0] != '\0') ImGui::Text("%-22s %s", binding.keys, binding.does);
        for (const auto& [keys, does] : kMoreHelp) ImGui::Text("%-22s %s", keys, does);
    }
    ImGui::End();
}

void Overlays::end() {
    ImGui::Render();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace zyr::studio
