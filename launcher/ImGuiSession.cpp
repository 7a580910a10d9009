#include "ImGuiSession.h"

#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

ImGuiSession::ImGuiSession(GLFWwindow* window) {
    context_ = ImGui::CreateContext();
    // Nothing is remembered between runs.
    ImGui::GetIO().IniFilename = nullptr;
    renderer_ = ImGui_ImplOpenGL3_Init();
    platform_ = ImGui_ImplGlfw_InitForOpenGL(window, true);
}

ImGuiSession::~ImGuiSession() {
    if (platform_) ImGui_ImplGlfw_Shutdown();
    if (renderer_) ImGui_ImplOpenGL3_Shutdown();
    ImGui::DestroyContext(context_);
}
