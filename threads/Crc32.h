#pragma once

#include <cstdint>

// CRC-32/ISO-HDLC (the zlib and Ethernet CRC). Chainable: pass the CRC of the bytes so far
// (0 for none) to continue over the next bytes. A count whose end would wrap past the top of
// the address space is taken as 0.
std::uint32_t crc32(std::uint32_t running, const std::uint8_t *data, std::uint32_t count);
