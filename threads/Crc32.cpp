#include "Crc32.h"

#include <array>
#include <limits>

namespace {

const std::array<std::uint32_t, 256> &crcTable()
{
    // Function-local static: filled once, on first use, safely from any thread.
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < entries.size(); ++n) {
            std::uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    return table;
}

} // namespace

std::uint32_t crc32(std::uint32_t running, const std::uint8_t *data, std::uint32_t count)
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (data == nullptr || count > std::numeric_limits<std::uintptr_t>::max() - start)
        count = 0;
    const auto &table = crcTable();
    std::uint32_t c = ~running;
    for (std::uint32_t i = 0; i < count; ++i)
        c = table[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return ~c;
}
