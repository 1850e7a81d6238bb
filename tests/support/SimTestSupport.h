#pragma once

#include "DeviceModel.h"
#include "SimBus.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cstring>

#include <vector>

// Helpers shared by the tests that run against the simulated Z-PORT.
namespace simtest {

inline QByteArray bytes(const zsim::Report &report, int count = 64)
{
    return QByteArray(reinterpret_cast<const char *>(report.data()), count);
}

// The 64-byte report a command should arrive as: the given bytes, then zeros.
inline QByteArray padded(const QByteArray &head)
{
    QByteArray report = head;
    report.append(QByteArray(64 - head.size(), '\0'));
    return report;
}

inline QByteArray fromHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// A long-form command: code, big-endian length and argument, reserved 0, then the payload.
inline QByteArray longForm(int code, int length, uint argument,
                           const QByteArray &payload = QByteArray())
{
    QByteArray head(8, '\0');
    head[0] = char(code);
    head[1] = char(length >> 8);
    head[2] = char(length);
    head[3] = char(argument >> 24);
    head[4] = char(argument >> 16);
    head[5] = char(argument >> 8);
    head[6] = char(argument);
    return head + payload;
}

// The bytes as the device model receives them: zero-filled to 64.
inline zsim::Report command(const QByteArray &head)
{
    zsim::Report r{};
    std::memcpy(r.data(), head.constData(), std::size_t(std::min(64, int(head.size()))));
    return r;
}

// Fails the current test when the device saw a malformed command.
inline bool noProtocolErrors()
{
    const auto errors = zsim::Bus::instance().protocolErrors();
    for (const auto &e : errors)
        qWarning("protocol error: %s", e.c_str());
    return errors.empty();
}

inline std::vector<zsim::Report> sentWithCode(std::uint8_t code)
{
    std::vector<zsim::Report> result;
    for (const auto &report : zsim::Bus::instance().sentReports()) {
        if (report[0] == code)
            result.push_back(report);
    }
    return result;
}

// The command codes the device received, in order.
inline QByteArray sentCodes()
{
    QByteArray codes;
    for (const auto &report : zsim::Bus::instance().sentReports())
        codes.append(static_cast<char>(report[0]));
    return codes;
}

} // namespace simtest
