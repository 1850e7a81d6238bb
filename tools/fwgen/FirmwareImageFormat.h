// Layout shared by the firmware generator and the device simulator.
//
// Both carried images hold a 14-byte version record at file offset 0x100, which the simulated
// device reads back from its flash to report the versions it runs:
//
//   offset  size  content
//   0       4     ASCII "ZPVR"
//   4       1     kind: 'C' for the CPU boot image, 'F' for the FPGA bitstream
//   5       1     0
//   6       2     major version, little-endian
//   8       2     minor version, little-endian
//   10      4     0 (reserved, ignored when read)
//
// In the CPU image the record lies inside the data of the first section; in the FPGA image it is
// the first 14 bytes of the frame data and, unlike the bytes around it, is not bit-reversed.
// The CPU image is flashed from address 0, the FPGA bitstream from 0x60100, so the simulator finds
// the records at flash addresses 0x100 and 0x60200.
//
// This header must stay free of other project or library headers.

#ifndef ZPORT_FIRMWARE_IMAGE_FORMAT_H
#define ZPORT_FIRMWARE_IMAGE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zport {

constexpr std::size_t kVersionRecordOffset = 0x100;
constexpr std::size_t kVersionRecordSize = 14;
constexpr char kVersionRecordMagic[4] = {'Z', 'P', 'V', 'R'};
constexpr char kVersionKindCpu = 'C';
constexpr char kVersionKindFpga = 'F';

// The images carried in the program's resources.
constexpr std::size_t kCpuImageSize = 180072;
constexpr std::size_t kFpgaImageSize = 803398;
constexpr uint16_t kCpuVersionMajor = 1;
constexpr uint16_t kCpuVersionMinor = 9;
constexpr uint16_t kFpgaVersionMajor = 1;
constexpr uint16_t kFpgaVersionMinor = 13;
constexpr const char *kCpuImageName = "Z-PORT_1_09.img";
constexpr const char *kFpgaImageName = "Z-PORT_1_13.bin";

// Fills the record at kVersionRecordOffset; false when the image is too small to hold it.
inline bool writeVersionRecord(uint8_t *image, std::size_t size, char kind, uint16_t major,
                               uint16_t minor)
{
    if (image == nullptr || size < kVersionRecordOffset + kVersionRecordSize)
        return false;
    uint8_t *record = image + kVersionRecordOffset;
    std::memset(record, 0, kVersionRecordSize);
    std::memcpy(record, kVersionRecordMagic, sizeof kVersionRecordMagic);
    record[4] = static_cast<uint8_t>(kind);
    record[6] = static_cast<uint8_t>(major & 0xFF);
    record[7] = static_cast<uint8_t>(major >> 8);
    record[8] = static_cast<uint8_t>(minor & 0xFF);
    record[9] = static_cast<uint8_t>(minor >> 8);
    return true;
}

// Reads the record at kVersionRecordOffset. Returns false, leaving major and minor untouched,
// when the image is too small or the magic or the kind does not match.
inline bool readVersionRecord(const uint8_t *image, std::size_t size, char kind, uint16_t &major,
                              uint16_t &minor)
{
    if (image == nullptr || size < kVersionRecordOffset + kVersionRecordSize)
        return false;
    const uint8_t *record = image + kVersionRecordOffset;
    if (std::memcmp(record, kVersionRecordMagic, sizeof kVersionRecordMagic) != 0)
        return false;
    if (record[4] != static_cast<uint8_t>(kind) || record[5] != 0)
        return false;
    major = static_cast<uint16_t>(record[6] | (record[7] << 8));
    minor = static_cast<uint16_t>(record[8] | (record[9] << 8));
    return true;
}

} // namespace zport

#endif // ZPORT_FIRMWARE_IMAGE_FORMAT_H
