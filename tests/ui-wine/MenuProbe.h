// What ui-probe and ui-menu-hook.dll agree on: the tag of the request (the
// lParam of the WM_NULL posted to the launcher's window) and of the answer
// (the dwData of the WM_COPYDATA sent back), and the hook's exported name.
#pragma once
#include <windows.h>

constexpr LPARAM MenuProbeTag = 0x4D454E55;  // "MENU"
constexpr const char* MenuHookName = "MenuHookProc";
constexpr const char* MenuHookFile = "ui-menu-hook.dll";
