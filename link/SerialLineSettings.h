// The line settings of a serial connection, from the numbers and the parity
// text of a connection text. Only settings the line really supports pass.
#ifndef SERIALLINESETTINGS_H
#define SERIALLINESETTINGS_H

#include <QSerialPort>
#include <QString>

class SerialLineSettings
{
public:
    // False when any of the four is not a setting this platform can give a line.
    static bool fromText(int baud, int dataBits, int stopBits, const QString &parity,
                         SerialLineSettings *out);
    // The settings `port` runs with now.
    static SerialLineSettings of(const QSerialPort &port);

    // Sets all four on an open port, no flow control. False when the port
    // refuses one; a pseudo-terminal's refusals are tolerated, since it
    // carries bytes the same whatever it is told.
    bool applyTo(QSerialPort *port, const QString &portName) const;

    // The quiet gap in ms the line keeps before a request (its turnaround),
    // for the slow rates that need a longer one; 0 keeps the gap in force.
    int frameGapMs() const;

    static bool isPseudoTerminal(const QString &portName);

    qint32 baud = 0;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::Parity parity = QSerialPort::NoParity;
};

#endif // SERIALLINESETTINGS_H
