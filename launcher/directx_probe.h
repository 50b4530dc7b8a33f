// Whether DirectX 8.1 is installed, judged by the libraries it brings.
#pragma once

#include <cstdint>

// DirectX version codes.
constexpr uint32_t kNoDirectX8 = 0;    // Direct3D 8 ("D3D8.DLL") is missing
constexpr uint32_t kDirectX80 = 0x800; // Direct3D 8, but not DirectX 8.1's "dpnhpast.dll"
constexpr uint32_t kDirectX81 = 0x801; // both: DirectX 8.1 or later

// Loads and releases the two libraries (nothing of them is called) and returns the version
// code. What is missing is written to an attached debugger.
uint32_t probeDirectXVersion();
