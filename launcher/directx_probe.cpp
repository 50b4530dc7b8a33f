#include "launcher/directx_probe.h"

#include <windows.h>

uint32_t probeDirectXVersion() {
    HMODULE direct3d = LoadLibraryA("D3D8.DLL");
    if (direct3d == nullptr) {
        OutputDebugStringA("Couldn't LoadLibrary D3D8.DLL\r\n");
        return kNoDirectX8;
    }
    HMODULE natHelper = LoadLibraryA("dpnhpast.dll");
    if (natHelper == nullptr) {
        FreeLibrary(direct3d);
        OutputDebugStringA("Couldn't LoadLibrary dpnhpast.dll\r\n");
        return kDirectX80;
    }
    FreeLibrary(direct3d);
    FreeLibrary(natHelper);
    return kDirectX81;
}
