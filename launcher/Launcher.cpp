#include "Launcher.h"

#include "ImGuiSession.h"
#include "ResourceArchive.h"
#include "StopRequest.h"
#include "Texture.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <unordered_set>

namespace {

constexpr int kWindowWidth = 280;
constexpr int kWindowHeight = 230;
constexpr float kLogoHeight = 128.0f;
constexpr float kButtonWidth = 80.0f;
constexpr ImGuiWindowFlags kWindowFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                          ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                                          ImGuiWindowFlags_NoBackground;
static_assert(kWindowFlags == 171);

// One size per key: width * 16384 + height, formed in 32-bit arithmetic (wrapping
// rather than overflowing for absurd widths) and widened.
std::int64_t sizeKey(const VideoModeSize& size) {
    const std::uint32_t wrapped = (static_cast<std::uint32_t>(size.width) << 14) + static_cast<std::uint32_t>(size.height);
    return static_cast<std::int64_t>(static_cast<std::int32_t>(wrapped));
}

void setSize(LaunchSettings& settings, const VideoModeSize& size) {
    settings.width = static_cast<std::uint32_t>(size.width);
    settings.height = static_cast<std::uint32_t>(size.height);
}


ImTextureID textureId(const Texture& texture) {
    return reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(texture.name()));
}

} // namespace

ResolutionList buildResolutionList(const std::vector<VideoModeSize>& modes, VideoModeSize desktop,
                                   LaunchSettings& settings) {
    // A monitor that lists no modes still has the one it is showing.
    const std::vector<VideoModeSize> desktopOnly{desktop};
    const std::vector<VideoModeSize>& offered = modes.empty() ? desktopOnly : modes;

    ResolutionList list;
    std::unordered_set<std::int64_t> seen;
    bool desktopFound = false;
    for (const VideoModeSize& mode : offered) {
        const std::int64_t key = sizeKey(mode);
        if (seen.contains(key)) continue;  // same size at another refresh rate or depth
        if (mode.width == desktop.width && mode.height == desktop.height) {
            list.selected = static_cast<int>(list.labels.size());
            setSize(settings, mode);
            desktopFound = true;
        }
        seen.insert(key);
        list.labels.push_back(std::to_string(mode.width) + " x " + std::to_string(mode.height));
        list.sizes.push_back(mode);
    }
    // Whatever the combo box shows as selected is what "Run" hands on.
    if (!desktopFound) {
        list.selected = 0;
        setSize(settings, list.sizes.front());
    }
    return list;
}

bool runLauncher(ResourceArchive& archive, LaunchSettings& settings) {
    settings.fullscreen = false;
    auto window = createWindow({static_cast<std::uint32_t>(kWindowWidth), static_cast<std::uint32_t>(kWindowHeight),
                                false, "ZYR"});
    GLFWwindow* handle = window->handle();

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);

    // Without a primary monitor there is nothing to offer and no screen for the
    // presentation either; the window's destruction ends GLFW on the way out.
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* desktopMode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!desktopMode) throw std::runtime_error("No monitor found");

    int modeCount = 0;
    const GLFWvidmode* glfwModes = glfwGetVideoModes(monitor, &modeCount);
    std::vector<VideoModeSize> modes;
    for (int i = 0; glfwModes && i < modeCount; ++i) modes.push_back({glfwModes[i].width, glfwModes[i].height});

    auto list = std::make_unique<ResolutionList>(
        buildResolutionList(modes, {desktopMode->width, desktopMode->height}, settings));
    std::vector<const char*> items;
    for (const std::string& label : list->labels) items.push_back(label.c_str());

    auto imgui = std::make_unique<ImGuiSession>(glfwGetCurrentContext());
    auto logo = std::make_unique<Texture>(archive, "zyr.png");

    bool run = false;
    const float width = static_cast<float>(kWindowWidth);
    while (!glfwWindowShouldClose(handle)) {
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplGlfw_NewFrame();
        ImGui_ImplOpenGL3_NewFrame();
        ImGui::NewFrame();

        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always);
        ImGui::SetNextWindowSize(ImVec2(width, static_cast<float>(kWindowHeight)), ImGuiCond_Always);
        if (ImGui::Begin("Launcher window", nullptr, kWindowFlags)) {
            // The logo spans the whole width from the window's corner, outside
            // the usual margin.
            ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
            ImGui::Image(textureId(*logo), ImVec2(width, kLogoHeight));
            ImGui::Spacing();
            ImGui::Separator();
            ImGui::Spacing();

            if (ImGui::Combo("Resolution", &list->selected, items.data(), static_cast<int>(items.size())))
                setSize(settings, list->sizes[static_cast<std::size_t>(list->selected)]);
            ImGui::Checkbox("Fullscreen", &settings.fullscreen);
            ImGui::Spacing();
            ImGui::Separator();
            ImGui::Spacing();

            // "Run" mirrors "Quit": as far from the right edge as "Quit" is from the left.
            const ImVec2 row = ImGui::GetCursorPos();
            if (ImGui::Button("Quit", ImVec2(kButtonWidth, 0.0f))) glfwSetWindowShouldClose(handle, GLFW_TRUE);
            ImGui::SetCursorPos(ImVec2(width - row.x - kButtonWidth, row.y));
            if (ImGui::Button("Run", ImVec2(kButtonWidth, 0.0f))) {
                run = true;
                glfwSetWindowShouldClose(handle, GLFW_TRUE);
            }
        }
        ImGui::End();
        ImGui::Render();
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());

        glfwSwapBuffers(handle);
        glfwPollEvents();
        if (glfwGetKey(handle, GLFW_KEY_ESCAPE) == GLFW_PRESS) glfwSetWindowShouldClose(handle, GLFW_TRUE);
        // SIGINT or SIGTERM: as if the viewer had closed the window.
        if (stopRequested()) {
            run = false;
            glfwSetWindowShouldClose(handle, GLFW_TRUE);
        }
    }

    imgui.reset();
    logo.reset();
    settings.title = "Tessaran 2023";
    items.clear();
    list.reset();
    window.reset();
    return run;
}
