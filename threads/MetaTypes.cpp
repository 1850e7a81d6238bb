#include "MetaTypes.h"

#include "ErrorCodes.h"

#include <QMetaType>

#include <cstdint>

void registerUint32MetaType()
{
    qRegisterMetaType<uint32_t>("uint32_t");
}

void registerErrorCodesMetaType()
{
    qRegisterMetaType<ErrorCodes>("ErrorCodes");
}
