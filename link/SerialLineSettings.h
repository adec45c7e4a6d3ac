// The line settings of a serial connection, from the numbers and the parity
// text of a connection text. Only settings the line really supports pass.
#ifndef SERIALLINESETTINGS_H
#define SERIALLINESETTINGS_H

#include <QSerialPort>
#include <QString>

class SerialLineSettings
{
public:
    // False when any of the four is not a supported setting.
    static bool fromText(int baud, int dataBits, int stopBits, const QString &parity,
                         SerialLineSettings *out);

    // The quiet gap in ms after which the line hands a reply over, for the
    // slow rates that need a longer one; 0 keeps the gap already in force.
    int frameGapMs() const;

    qint32 baud = 0;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::Parity parity = QSerialPort::NoParity;
};

#endif // SERIALLINESETTINGS_H
