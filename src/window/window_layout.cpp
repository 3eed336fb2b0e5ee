#include "window_layout.h"

UINT effective_dpi(UINT reported_dpi) { return reported_dpi < 97 ? kBaseDpi : reported_dpi; }

ClientSize scaled_client_size(UINT dpi) {
    // In 64 bits: no DPI a system reports can overflow the product.
    const auto scale = [dpi](int logical) {
        return static_cast<int>(static_cast<long long>(logical) * dpi / kBaseDpi);
    };
    return {scale(kLogicalClientWidth), scale(kLogicalClientHeight)};
}

POINT centred_position(const RECT& work_area, int outer_width, int outer_height) {
    const long long x = (static_cast<long long>(work_area.left) + work_area.right - outer_width) / 2;
    const long long y = (static_cast<long long>(work_area.top) + work_area.bottom - outer_height) / 2;
    return {static_cast<LONG>(x), static_cast<LONG>(y)};
}
