// ImGuiSession: Dear ImGui with its GLFW and OpenGL 3 back ends on one window,
// for the launcher and the authoring tools' overlays alike.
//
// Use (the window's context current):
//     ImGuiSession imgui(window);
//     ... ImGui_ImplOpenGL3_NewFrame(); ImGui_ImplGlfw_NewFrame(); ImGui::NewFrame(); ...
//
// Ownership: owns the ImGui context and both back ends, shut down in reverse
// order by the destructor, which must run while the window and its context
// still exist. The back end chains the window's GLFW callbacks installed
// before it. No settings file is read or written.
//
// Failure: a back end that does not start is not shut down; nothing is
// reported, as elsewhere in the launcher.
#pragma once

struct GLFWwindow;
struct ImGuiContext;

class ImGuiSession {
public:
    explicit ImGuiSession(GLFWwindow* window);
    ~ImGuiSession();
    ImGuiSession(const ImGuiSession&) = delete;
    ImGuiSession& operator=(const ImGuiSession&) = delete;

private:
    ImGuiContext* context_ = nullptr;
    bool renderer_ = false;
    bool platform_ = false;
};
