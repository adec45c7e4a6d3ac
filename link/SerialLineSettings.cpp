#include "link/SerialLineSettings.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>

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
#ifdef Q_OS_WIN
    case 3: s.stopBits = QSerialPort::OneAndHalfStop; break;
#endif
    // Elsewhere 1.5 stop bits do not exist in the line discipline: the port
    // would quietly run with one.
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

SerialLineSettings SerialLineSettings::of(const QSerialPort &port)
{
    SerialLineSettings s;
    s.baud = port.baudRate();
    s.dataBits = port.dataBits();
    s.stopBits = port.stopBits();
    s.parity = port.parity();
    return s;
}

bool SerialLineSettings::applyTo(QSerialPort *port, const QString &portName) const
{
    bool all = port->setBaudRate(baud, QSerialPort::AllDirections);
    all = port->setDataBits(dataBits) && all;
    all = port->setStopBits(stopBits) && all;
    all = port->setParity(parity) && all;
    all = port->setFlowControl(QSerialPort::NoFlowControl) && all;
    port->clearError();
    return all || isPseudoTerminal(portName);
}

// Pseudo-terminal slaves are character devices of majors 136 to 143 on Linux.
bool SerialLineSettings::isPseudoTerminal(const QString &portName)
{
    const QString path =
        portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int majorNumber = major(info.st_rdev);
    return majorNumber >= 136 && majorNumber <= 143;
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
