#pragma once

#include <QString>

#include <cstdint>

// The device log comes one 64-byte reply per request; a reply starting 00 FF FF ends it.
namespace devicelog {

constexpr int kReplySize = 64;
// One fetch sends at most this many requests.
constexpr int kMaxRequests = 51;

bool isEndMarker(const std::uint8_t *reply);

// The text of one reply: printable ASCII up to the first NUL, LF or CR, then one LF.
QString lineText(const std::uint8_t *reply);

extern const char *const kNoLogsText;
extern const char *const kOutOfDateText;

} // namespace devicelog
