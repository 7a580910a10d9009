#include "ToolConsole.h"

#include "WindowsText_win32.h"

#include <windows.h>

#include <cstdlib>
#include <io.h>
#include <shellapi.h>

namespace zyr {

namespace {

UINT outputCodePage = 0;

void restoreCodePage() {
    if (outputCodePage != 0) SetConsoleOutputCP(outputCodePage);
}

void setIfUnset(const wchar_t* name, const wchar_t* value) {
    if (GetEnvironmentVariableW(name, nullptr, 0) == 0) SetEnvironmentVariableW(name, value);
}

}  // namespace

std::vector<std::string> startTool(int, char**) {
    // The narrow argv went through the ANSI code page; the wide command line
    // holds every name as it was typed.
    std::vector<std::string> arguments;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) arguments.push_back(narrow(wide[i]));
        LocalFree(wide);
    }
    // The tools print UTF-8; a console shows it as such only in code page 65001.
    if (const UINT current = GetConsoleOutputCP(); current != 0 && current != CP_UTF8) {
        outputCodePage = current;
        SetConsoleOutputCP(CP_UTF8);
        std::atexit(restoreCodePage);
    }
    return arguments;
}

// For a Mesa opengl32.dll beside the tool; the system's drivers ignore it.
void askForOpenGl46() {
    setIfUnset(L"MESA_GL_VERSION_OVERRIDE", L"4.6");
    setIfUnset(L"MESA_GLSL_VERSION_OVERRIDE", L"460");
}

bool isTerminal(std::FILE* stream) {
    DWORD mode = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace zyr
