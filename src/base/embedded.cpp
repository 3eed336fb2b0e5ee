#include "embedded.h"

// Both blocks are linked in by the build (.incbin), each followed by its end symbol.
extern "C" const unsigned char lumivane_module[];
extern "C" const unsigned char lumivane_module_end[];
extern "C" const unsigned char lumivane_page[];
extern "C" const unsigned char lumivane_page_end[];

EmbeddedBytes plugin_module() { return {lumivane_module, static_cast<size_t>(lumivane_module_end - lumivane_module)}; }

std::string_view installer_page() {
    return {reinterpret_cast<const char*>(lumivane_page), static_cast<size_t>(lumivane_page_end - lumivane_page)};
}
