#include "SerialLineSettings.h"

bool SerialLineSettings::fromText(int baud, int dataBits, int stopBits, const QString &parity,
                                  SerialLineSettings *out)
{
    static const int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    SerialLineSettings s;
    for (int b : kBauds) {
        if (b == baud)
            s.baud = b;
    }
    if (s.baud == 0)
        return false;

    if (dataBits < 5 || dataBits > 8)
        return false;
    s.dataBits = QSerialPort::DataBits(dataBits);

    switch (stopBits) {
    case 1: s.stopBits = QSerialPort::OneStop; break;
    case 2: s.stopBits = QSerialPort::TwoStop; break;
    case 3: s.stopBits = QSerialPort::OneAndHalfStop; break;
    default: return false;
    }

    // Chosen by the first letter, so "Even" is even parity and not none.
    const QString p = parity.trimmed().toUpper();
    if (p.startsWith(QLatin1Char('N')))
        s.parity = QSerialPort::NoParity;
    else if (p.startsWith(QLatin1Char('E')))
        s.parity = QSerialPort::EvenParity;
    else if (p.startsWith(QLatin1Char('O')))
        s.parity = QSerialPort::OddParity;
    else
        return false;

    *out = s;
    return true;
}

int SerialLineSettings::frameGapMs() const
{
    switch (baud) {
    case 2400: return 10;
    case 4800: return 6;
    case 9600: return 3;
    default: return 0;
    }
}
