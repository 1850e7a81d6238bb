#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Outcome of one look at the attached HID interfaces. When found, value is the product ID;
// otherwise one of the ProbeFailure codes.
struct ProbeResult
{
    bool found = false;
    std::int32_t value = 0;
};

enum ProbeFailure : std::int32_t
{
    NoInterface = 0,         // nothing with our vendor ID attached
    ProductIdUnreadable = 1, // one interface, but neither known product ID in its identity
    TooManyInterfaces = 2,   // more than one interface
    ProductIdUnknown = 3,    // one interface, product ID read but not a Z-PORT's
};

// Tells the single attached Z-PORT from the identity strings that the link lists.
ProbeResult classifyInterfaces(const QStringList &identities);

// What a failed probe is reported as: the status line, the short text and the code.
struct ConnectionFailure
{
    QString statusMessage;
    QString shortText;
    int code = 0;
};

// During a scan (nothing found after all probes is code 2).
ConnectionFailure scanFailure(std::int32_t probeFailure);
// While watching a connected device (the device gone is code 0).
ConnectionFailure watchFailure(std::int32_t probeFailure);
