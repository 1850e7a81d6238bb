#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// The two firmware images, where each goes in the device's flash, and the record that
// describes the loaded one.

constexpr std::uint32_t kImageKindCpu = 0x5555;
constexpr std::uint32_t kImageKindFpga = 0xAAAA;
constexpr std::uint32_t kCpuFlashAddress = 0;
// The FPGA image's header page; its data follows one page later.
constexpr std::uint32_t kFpgaFlashAddress = 0x60000;
constexpr std::uint32_t kImageBufferSize = 16u * 1024u * 1024u;
constexpr int kImageHeaderSize = 20;

struct ImageHeader
{
    std::uint32_t kind = 0;
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    std::uint32_t reserved = 0;
    std::uint32_t crc = 0;

    // The 20 bytes sent to the device: every field little-endian.
    std::array<std::uint8_t, kImageHeaderSize> toBytes() const;
};

// Describes the image loaded last, for the whole process; zero until the first load.
extern ImageHeader gImageHeader;

// Loads the file (path in UTF-8) into buffer, which must hold kImageBufferSize bytes, and fills
// gImageHeader. 0 when loaded; -1 when refused (cannot be opened, larger than the buffer, read
// error), in which case the header and the buffer are left as they were.
int loadImageFile(const QByteArray &path, std::uint32_t kind, std::uint8_t *buffer);

// Checks that an image can be programmed without leaving the device unable to start: an empty
// string when it can, otherwise a sentence for the user. name, when given, names the file.
QString validateImage(std::uint32_t kind, const std::uint8_t *data, std::uint32_t size,
                      const QString &name = QString());
// The same for a file (path in UTF-8), which is also refused when it cannot be read whole.
QString validateImageFile(const QByteArray &path, std::uint32_t kind);
