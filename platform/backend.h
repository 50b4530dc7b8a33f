// What each back end supplies to the portable part of the platform layer (platform_common.cpp).
// Internal to platform/.
#pragma once

#include <cstdint>

namespace platform::backend {

// The system's own message box (no test handler involved); see platform::messageBox.
int systemMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

} // namespace platform::backend
