#pragma once

#include <cstdint>

namespace zport {

// USB vendor ID of the Z-PORT's maker. The product ID tells the variant.
constexpr std::uint16_t kVendorId = 0x3A7C;
constexpr std::uint16_t kProductIdHdmi = 0x15AD;
constexpr std::uint16_t kProductIdSdi = 0x15AE;

} // namespace zport
