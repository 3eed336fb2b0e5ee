// The least filter module the host can load: it declares itself through its property list
// and answers every call of the host without error, leaving the image as it is.
#include <cstdint>

extern "C" __declspec(dllexport) void PluginMain(const std::int16_t selector, void* filter_record,
                                                 std::intptr_t* data, std::int16_t* result) {
    (void)selector;
    (void)filter_record;
    (void)data;
    // Asking for no rectangles on "start" means nothing is read or written: the image stays.
    if (result != nullptr) *result = 0;
}
