// Copies of the running test program, for what only a fresh process can
// show: a program that carries an icon resource, a real restart.
#pragma once

#include <windows.h>

#include <string>

// This program's own path.
std::wstring own_exe_path();

// Gives the program at exe icon resource 1 (one 32 by 32 true-colour icon,
// as the resource compiler would store it).
bool add_icon_resource(const std::wstring& exe);

// Which icons a window carries: "big small same", "no-big no-small", ...
std::string icons_of(HWND h);

// Runs exe with arguments after its quoted path, in folder (the current
// one when empty), and waits for it: its exit code, or -1 when it could
// not start.
DWORD run_and_wait(const std::wstring& exe, const std::wstring& arguments = L"", const std::wstring& folder = L"");
