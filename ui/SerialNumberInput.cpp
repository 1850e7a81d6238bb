#include "SerialNumberInput.h"

#include <regex>
#include <string>

bool serialNumberAccepted(const QString &text)
{
    static const std::regex pattern("(K)[0-9][0-9][0-9][0-9][0-9][0-9][0-9]",
                                    std::regex::ECMAScript);
    return std::regex_match(text.toUtf8().toStdString(), pattern);
}

QByteArray serialNumberToSend(const QString &acceptedText)
{
    return QByteArray("00") + acceptedText.toUtf8();
}
