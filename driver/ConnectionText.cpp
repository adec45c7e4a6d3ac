#include "driver/ConnectionText.h"

ConnectionText::Form ConnectionText::formOf(const QString &text)
{
    if (text.contains(QLatin1Char(',')))
        return SerialForm;
    if (text.contains(QLatin1Char(':')) || text.contains(QLatin1Char(';')))
        return EthernetForm;
    return NoForm;
}

ConnectionText::Ethernet ConnectionText::ethernet(const QString &text)
{
    Ethernet e;
    const int colon = text.indexOf(QLatin1Char(':'));
    e.ip = colon < 0 ? text : text.left(colon);
    e.port = (colon < 0 ? text : text.mid(colon + 1)).toInt(nullptr, 10);
    return e;
}

ConnectionText::Serial ConnectionText::serial(const QString &text)
{
    QString fields[5];
    QString work = text;
    for (QString &field : fields) {
        const int comma = work.indexOf(QLatin1Char(','));
        field = comma < 0 ? work : work.left(comma);
        if (comma >= 0)
            work = work.mid(comma + 1);
    }
    Serial s;
    s.portName = fields[0];
    s.baud = fields[1].toInt(nullptr, 10);
    s.dataBits = fields[2].toInt(nullptr, 10);
    s.stopBits = fields[3].toInt(nullptr, 10);
    s.parity = fields[4];
    return s;
}

bool ConnectionText::acceptable(const Ethernet &e)
{
    // A port is 16 bits: 70000 must not quietly become 4464.
    return !e.ip.isEmpty() && e.port >= 1 && e.port <= 65535;
}

bool ConnectionText::acceptable(const Serial &s)
{
    return !s.portName.isEmpty() && s.baud != 0 && s.dataBits != 0 && s.stopBits != 0;
}
