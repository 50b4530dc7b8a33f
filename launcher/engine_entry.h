// The engine's entry as the launcher finds and calls it: the export of system.dll under its
// decorated name, int __stdcall run(HINSTANCE, int, const char*). The engine removes the
// arguments from the stack itself, so in a 32-bit build a declaration that says otherwise
// corrupts the stack on every call; the tests call an engine through this same type.
#pragma once

#include <windows.h>

constexpr char kEngineEntry[] = "?run@@YGHPAUHINSTANCE__@@HPBD@Z";
using EngineEntry = int(__stdcall*)(HINSTANCE instance, int showCommand, const char* title);
