// zport-fwgen: writes the two firmware images that the updater carries in its resources.
//
//   zport-fwgen <output-dir>
//
// creates <output-dir>/firmware/Z-PORT_1_09.img (CPU boot image) and
// <output-dir>/firmware/Z-PORT_1_13.bin (FPGA bitstream). The contents are filler with the right
// framing, made from fixed start values so that every run writes the same bytes.

#include "FirmwareImageFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class XorShift32
{
public:
    explicit XorShift32(uint32_t state) : mState(state) {}
    uint32_t next()
    {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return mState;
    }

private:
    uint32_t mState;
};

void putLe32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putBe16(Bytes &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

uint32_t crc32(const uint8_t *data, std::size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// ---------------------------------------------------------------------------------------------
// CPU boot image: "CY", control byte, image type, then sections of (length in 32-bit words,
// load address, data), a zero-length section whose address is the entry point, and the 32-bit
// sum of all section data words.

constexpr uint8_t kBootControl = 0x1C; // executable image, SPI boot at the default clock
constexpr uint8_t kBootImageType = 0xB0;
constexpr uint32_t kCodeBase = 0x40003000;   // system RAM above the boot loader's area
constexpr uint32_t kVectorBase = 0x00000000; // instruction TCM
constexpr uint32_t kDataBase = 0x40030000;
constexpr std::size_t kVectorWords = 64;
constexpr std::size_t kDataWords = 1024;
constexpr std::size_t kSectionCount = 3;
// Signature, control and type; a header per section; the closing section; the checksum.
constexpr std::size_t kCpuFramingBytes = 4 + kSectionCount * 8 + 8 + 4;
constexpr std::size_t kCodeWords =
    (zport::kCpuImageSize - kCpuFramingBytes) / 4 - kVectorWords - kDataWords;
static_assert((zport::kCpuImageSize - kCpuFramingBytes) % 4 == 0, "image must be whole words");
// The version record sits inside the code section, whose data starts at file offset 12.
static_assert(zport::kVersionRecordOffset >= 12 && (zport::kVersionRecordOffset - 12) % 4 == 0,
              "version record must start on a code word");

uint32_t armBranch(uint32_t from, uint32_t to)
{
    return 0xEA000000u | (((to - from - 8) >> 2) & 0x00FFFFFFu);
}

// Words that read like ARM code: mostly "always" condition instructions, with a literal pool
// of RAM addresses now and then and some zero padding between functions.
std::vector<uint32_t> codeWords(XorShift32 &rng, std::size_t count)
{
    std::vector<uint32_t> words;
    words.reserve(count);
    while (words.size() < count) {
        const uint32_t r = rng.next();
        const std::size_t run = 8 + (r & 0x3F);
        for (std::size_t i = 0; i < run && words.size() < count; ++i)
            words.push_back(0xE0000000u | (rng.next() & 0x0FFFFFFFu));
        const std::size_t pool = (r >> 8) & 0x7;
        for (std::size_t i = 0; i < pool && words.size() < count; ++i)
            words.push_back(kCodeBase + ((rng.next() & 0x2AFFFu) & ~3u));
        if ((r >> 12 & 0x3) == 0 && words.size() < count)
            words.push_back(0);
    }
    return words;
}

void putWords(Bytes &out, const std::vector<uint32_t> &words)
{
    for (uint32_t w : words)
        putLe32(out, w);
}

void putStringWords(std::vector<uint32_t> &words, std::size_t &at, const char *text)
{
    const std::size_t length = std::strlen(text) + 1; // keep the terminator
    const std::size_t count = (length + 3) / 4;
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t w = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            const std::size_t index = i * 4 + b;
            const uint8_t c = index < length ? static_cast<uint8_t>(text[index]) : 0;
            w |= static_cast<uint32_t>(c) << (8 * b);
        }
        words[at++] = w;
    }
}

Bytes buildCpuImage()
{
    XorShift32 rng(0x43595A50u);

    std::vector<uint32_t> code = codeWords(rng, kCodeWords);
    // Reset jumps over the header block that holds the version record.
    code[0] = armBranch(kCodeBase, kCodeBase + 0x200);
    const std::size_t recordWord = (zport::kVersionRecordOffset - 12) / 4;
    for (std::size_t i = 1; i < 0x200 / 4; ++i)
        code[i] = 0;
    std::vector<uint32_t> vectors(kVectorWords);
    for (std::size_t i = 0; i < 8; ++i) {
        vectors[i] = 0xE59FF018u; // ldr pc, [pc, #0x18]
        vectors[8 + i] = kCodeBase + 0x200 + static_cast<uint32_t>(i) * 0x40;
    }
    const std::vector<uint32_t> handlers = codeWords(rng, kVectorWords - 16);
    std::copy(handlers.begin(), handlers.end(), vectors.begin() + 16);

    std::vector<uint32_t> data(kDataWords, 0);
    std::size_t at = 0;
    putStringWords(data, at, "Korvel Z-PORT");
    putStringWords(data, at, "Z-PORT HDMI");
    putStringWords(data, at, "Z-PORT SDI");
    putStringWords(data, at, "CPU firmware 1.9");
    putStringWords(data, at, "flash: erase failed");
    putStringWords(data, at, "flash: verify failed");
    putStringWords(data, at, "fpga: configuration done");
    putStringWords(data, at, "fpga: configuration timeout");
    putStringWords(data, at, "usb: enumerated at super speed");
    putStringWords(data, at, "usb: enumerated at high speed");
    putStringWords(data, at, "video: input lost");
    putStringWords(data, at, "video: input locked");
    for (std::size_t i = at + 16; i < kDataWords / 2; ++i)
        data[i] = (rng.next() & 0x3) == 0 ? rng.next() : 0;

    Bytes image;
    image.reserve(zport::kCpuImageSize);
    image.push_back('C');
    image.push_back('Y');
    image.push_back(kBootControl);
    image.push_back(kBootImageType);

    const struct
    {
        uint32_t address;
        const std::vector<uint32_t> *words;
    } sections[kSectionCount] = {{kCodeBase, &code}, {kVectorBase, &vectors}, {kDataBase, &data}};

    // The record goes in before the checksum is taken over the section data.
    Bytes recordBytes(zport::kVersionRecordOffset + zport::kVersionRecordSize, 0);
    zport::writeVersionRecord(recordBytes.data(), recordBytes.size(), zport::kVersionKindCpu,
                              zport::kCpuVersionMajor, zport::kCpuVersionMinor);
    for (std::size_t i = 0; i < 4; ++i) {
        uint32_t w = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            const std::size_t index = zport::kVersionRecordOffset + i * 4 + b;
            if (index < recordBytes.size())
                w |= static_cast<uint32_t>(recordBytes[index]) << (8 * b);
        }
        code[recordWord + i] = w;
    }

    uint32_t checksum = 0;
    for (const auto &section : sections) {
        putLe32(image, static_cast<uint32_t>(section.words->size()));
        putLe32(image, section.address);
        putWords(image, *section.words);
        for (uint32_t w : *section.words)
            checksum += w;
    }
    putLe32(image, 0);
    putLe32(image, kCodeBase); // entry
    putLe32(image, checksum);
    return image;
}

// ---------------------------------------------------------------------------------------------
// FPGA bitstream: 16-bit configuration words, big-endian, stored with every byte bit-reversed
// because the configuration port shifts each byte out least significant bit first.

constexpr uint16_t kNoop = 0x2000;

uint16_t writeHeader(unsigned reg, unsigned count)
{
    return static_cast<uint16_t>(0x3000u | (reg << 5) | count);
}

enum Register : unsigned
{
    CRC = 0,
    FAR_MAJ = 1,
    FDRI = 3,
    CMD = 5,
    CTL = 6,
    MASK = 7,
    COR1 = 10,
    COR2 = 11,
    PWRDN = 12,
    FLR = 13,
    IDCODE = 14,
    CWDT = 15,
    HC_OPT = 16,
    GENERAL1 = 19,
    GENERAL2 = 20,
    MODE = 24,
    CCLK_FREQ = 28,
    SEU_OPT = 29,
};

enum Command : uint16_t
{
    CMD_WCFG = 0x0001,
    CMD_LFRM = 0x0003,
    CMD_START = 0x0005,
    CMD_RCRC = 0x0007,
    CMD_GRESTORE = 0x000A,
    CMD_DESYNC = 0x000D,
};

void putWrite(Bytes &out, unsigned reg, std::initializer_list<uint16_t> values)
{
    putBe16(out, writeHeader(reg, static_cast<unsigned>(values.size())));
    for (uint16_t v : values)
        putBe16(out, v);
}

uint8_t reverseBits(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

Bytes buildFpgaImage()
{
    Bytes head;
    for (int i = 0; i < 8; ++i)
        putBe16(head, 0xFFFF);
    putBe16(head, 0xAA99); // sync
    putBe16(head, 0x5566);
    putBe16(head, kNoop);
    putWrite(head, CMD, {CMD_RCRC});
    putBe16(head, kNoop);
    putWrite(head, FLR, {0x0380});
    putWrite(head, COR1, {0x3D00});
    putWrite(head, COR2, {0x09EE});
    putWrite(head, IDCODE, {0x0400, 0x2093});
    putWrite(head, MASK, {0x00CF});
    putWrite(head, CTL, {0x0081});
    putBe16(head, kNoop);
    putBe16(head, kNoop);
    putWrite(head, CCLK_FREQ, {0x3CC8});
    putWrite(head, PWRDN, {0x0881});
    putWrite(head, HC_OPT, {0x001F});
    putWrite(head, CWDT, {0xFFFF});
    putWrite(head, MODE, {0x2100});
    putWrite(head, GENERAL1, {0x0000});
    putWrite(head, GENERAL2, {0x0000});
    putWrite(head, SEU_OPT, {0x1BE2});
    putWrite(head, FAR_MAJ, {0x0000, 0x0000});
    putWrite(head, CMD, {CMD_WCFG});

    // A zero-count FDRI write followed by the long-form header with a 32-bit count; the frame
    // data after it starts exactly at the version record.
    const std::size_t fdriHeaderBytes = 2 + 2 + 4;
    while (head.size() + fdriHeaderBytes < zport::kVersionRecordOffset)
        putBe16(head, kNoop);
    if (head.size() + fdriHeaderBytes != zport::kVersionRecordOffset)
        return {}; // the register writes outgrew the space before the record

    Bytes tail;
    putWrite(tail, CMD, {CMD_GRESTORE});
    putBe16(tail, kNoop);
    putWrite(tail, CMD, {CMD_LFRM});
    for (int i = 0; i < 4; ++i)
        putBe16(tail, kNoop);
    putWrite(tail, CMD, {CMD_GRESTORE});
    putWrite(tail, CMD, {CMD_START});
    for (int i = 0; i < 8; ++i)
        putBe16(tail, kNoop);
    putWrite(tail, CMD, {CMD_DESYNC});
    for (int i = 0; i < 16; ++i)
        putBe16(tail, kNoop);

    const std::size_t crcBytes = 2 + 4;
    const std::size_t frameBytes =
        zport::kFpgaImageSize - head.size() - fdriHeaderBytes - crcBytes - tail.size();
    const std::size_t frameWords = frameBytes / 2;

    // Frame data is sparse, as in a design that uses a fraction of the fabric, with denser
    // stretches where block RAM is initialised.
    XorShift32 rng(0x5A46500Du);
    Bytes frames;
    frames.reserve(frameBytes);
    std::size_t dense = 0;
    while (frames.size() / 2 < frameWords) {
        const uint32_t r = rng.next();
        if (dense == 0 && (r & 0x3FF) == 0)
            dense = 512 + (r >> 16 & 0x7FF);
        uint16_t word = 0;
        if (dense > 0) {
            word = static_cast<uint16_t>(r >> 8);
            --dense;
        } else if ((r & 0x7) == 0) {
            word = static_cast<uint16_t>(1u << (r >> 4 & 0xF)) | static_cast<uint16_t>(r >> 20);
        }
        putBe16(frames, word);
    }
    const uint32_t frameCrc = crc32(frames.data(), frames.size());

    Bytes image = head;
    putBe16(image, writeHeader(FDRI, 0));
    putBe16(image, 0x5060); // long-form FDRI write
    putBe16(image, static_cast<uint16_t>(frameWords >> 16));
    putBe16(image, static_cast<uint16_t>(frameWords & 0xFFFF));
    image.insert(image.end(), frames.begin(), frames.end());
    putWrite(image, CRC,
             {static_cast<uint16_t>(frameCrc >> 16), static_cast<uint16_t>(frameCrc & 0xFFFF)});
    image.insert(image.end(), tail.begin(), tail.end());

    for (uint8_t &b : image)
        b = reverseBits(b);
    zport::writeVersionRecord(image.data(), image.size(), zport::kVersionKindFpga,
                              zport::kFpgaVersionMajor, zport::kFpgaVersionMinor);
    return image;
}

bool writeFile(const std::filesystem::path &path, const Bytes &bytes, std::size_t expectedSize,
               char kind)
{
    uint16_t major = 0;
    uint16_t minor = 0;
    if (bytes.size() != expectedSize ||
        !zport::readVersionRecord(bytes.data(), bytes.size(), kind, major, minor)) {
        std::fprintf(stderr, "zport-fwgen: internal error building %s (%zu bytes)\n",
                     path.string().c_str(), bytes.size());
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "zport-fwgen: cannot write %s\n", path.string().c_str());
        return false;
    }
    std::printf("%s: %zu bytes, version %u.%u\n", path.string().c_str(), bytes.size(),
                unsigned(major), unsigned(minor));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: zport-fwgen <output-dir>\n"
                     "writes <output-dir>/firmware/%s and %s\n",
                     zport::kCpuImageName, zport::kFpgaImageName);
        return 2;
    }
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / "firmware";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "zport-fwgen: cannot create %s: %s\n", dir.string().c_str(),
                     error.message().c_str());
        return 1;
    }
    const bool ok = writeFile(dir / zport::kCpuImageName, buildCpuImage(), zport::kCpuImageSize,
                              zport::kVersionKindCpu) &&
                    writeFile(dir / zport::kFpgaImageName, buildFpgaImage(), zport::kFpgaImageSize,
                              zport::kVersionKindFpga);
    return ok ? 0 : 1;
}
