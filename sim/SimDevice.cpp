#include "sim/SimDevice.h"

SimDevice::SimDevice()
    : name(QStringLiteral("ads-sim")), major(quint8(ADS_SIM_VERSION_MAJOR)),
      minor(quint8(ADS_SIM_VERSION_MINOR)), build(quint16(ADS_SIM_VERSION_PATCH))
{
}

QByteArray SimDevice::nameField() const
{
    // Latin-1, the code page's printable part; a character beyond it goes as '?'.
    QByteArray field = name.toLatin1().left(NameFieldSize - 1);
    field.append(QByteArray(NameFieldSize - field.size(), '\0'));
    return field;
}
