// UTF-8 and the system's UTF-16 for the tools' Windows files, and the
// system's words for an error code. Included only by *_win32.cpp files.
//
// Use:
//     CreateFileW(widen(name).c_str(), ...);
//     throw SomeError(name + ": " + windowsMessage(GetLastError()));
//
// Failure: none; text that does not convert becomes U+FFFD (widen) or "?"
// marks, which only ever reach messages.
#pragma once

#include <string>
#include <string_view>

namespace zyr {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
// FormatMessageW's text for a Win32 error code, without its line end, or
// "error N" when the system has none.
std::string windowsMessage(unsigned long error);

}  // namespace zyr
