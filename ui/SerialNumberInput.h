#pragma once

#include <QByteArray>
#include <QString>

// A serial number as typed: K and seven digits, nothing else. The device stores it behind "00".
bool serialNumberAccepted(const QString &text);
QByteArray serialNumberToSend(const QString &acceptedText);
