#include "DeviceProbe.h"

#include "device/UsbIds.h"

ProbeResult classifyInterfaces(const QStringList &identities)
{
    if (identities.isEmpty())
        return {false, NoInterface};
    if (identities.size() > 1)
        return {false, TooManyInterfaces};

    const QString &identity = identities.first();
    QString productPart;
    if (identity.contains(QLatin1String("&pid_15ae")))
        productPart = QStringLiteral("&pid_15ae");
    else if (identity.contains(QLatin1String("&pid_15ad")))
        productPart = QStringLiteral("&pid_15ad");

    const int underscore = productPart.indexOf(QLatin1Char('_'));
    if (underscore < 0)
        return {false, ProductIdUnreadable};

    bool ok = false;
    const std::uint32_t productId = productPart.mid(underscore + 1).toUInt(&ok, 16);
    if (ok && (productId == zport::kProductIdHdmi || productId == zport::kProductIdSdi))
        return {true, static_cast<std::int32_t>(productId)};
    return {false, ProductIdUnknown};
}

namespace {

ConnectionFailure failureFor(std::int32_t probeFailure, int notFoundCode)
{
    switch (probeFailure) {
    case ProductIdUnreadable:
        return {QStringLiteral("Unable to read PID!"), QStringLiteral("CND"), 3};
    case TooManyInterfaces:
        return {QStringLiteral("Too Many Z-PORTs Connected!"), QStringLiteral("TMC"), 6};
    case ProductIdUnknown:
        return {QStringLiteral("Unrecognized PID!"), QStringLiteral("UPID"), 4};
    case NoInterface:
    default:
        return {QStringLiteral("No Z-PORTs Found!"), QStringLiteral("Not Found"), notFoundCode};
    }
}

} // namespace

ConnectionFailure scanFailure(std::int32_t probeFailure)
{
    return failureFor(probeFailure, 2);
}

ConnectionFailure watchFailure(std::int32_t probeFailure)
{
    return failureFor(probeFailure, 0);
}
