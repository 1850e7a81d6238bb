#pragma once

#include <QMetaType>

#include <cstdint>

// Result of one update pass, carried to the window by PostFPGAUpdateComplete. The window
// treats every value but UpdateSucceeded as failure.
enum ErrorCodes : std::uint32_t
{
    UpdateFailed = 0,
    UpdateSucceeded = 1,
};

Q_DECLARE_METATYPE(ErrorCodes)
