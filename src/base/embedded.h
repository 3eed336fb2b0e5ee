// What the executable carries: the plug-in module, the installer page and build-time settings.
#pragma once
#include <cstddef>
#include <string_view>

#include "setup_version.h"

#ifndef LUMIVANE_SUPPORT_EMAIL
#error "LUMIVANE_SUPPORT_EMAIL comes from the build (CMake cache variable of the same name)"
#endif

// The project version from the top CMakeLists.txt, the same that the version block carries.
inline constexpr std::string_view kSetupVersion = LUMIVANE_VERSION_TEXT;
inline constexpr std::string_view kSupportEmail = LUMIVANE_SUPPORT_EMAIL;

struct EmbeddedBytes {
    const unsigned char* data;
    size_t size;
};

// The module bytes, in place in the executable's read-only data: written out from here, never copied.
EmbeddedBytes plugin_module();
// The installer page document (UTF-8), likewise in place.
std::string_view installer_page();
