// Connection texts as a host may send them, and the serial line settings
// made from them. The driver is asked to connect only with texts the
// parsers refuse: those must come back refused without a transport being
// opened, which keeps this target free of sockets and devices.
#include "driver/ConnectionText.h"
#include "driver/LibBeckhoff_ADS.h"
#include "fuzz/FuzzSupport.h"
#include "link/AdsFrame.h"
#include "link/SerialLineSettings.h"

#include <QStringList>

using fuzzsupport::ByteReader;
using CT = ConnectionText;

namespace {

LibBeckhoff_ADS &driver()
{
    static LibBeckhoff_ADS *d = new LibBeckhoff_ADS;
    return *d;
}

bool listedBaud(int baud)
{
    for (int b : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        if (b == baud)
            return true;
    }
    return false;
}

void checkEthernet(const QString &text)
{
    const CT::Ethernet e = CT::ethernet(text);
    const int colon = text.indexOf(QLatin1Char(':'));
    // The address is what comes before the first ":"; it never holds one.
    FUZZ_CHECK(!e.ip.contains(QLatin1Char(':')));
    FUZZ_CHECK(e.ip == (colon < 0 ? text : text.left(colon)));
    if (CT::acceptable(e)) {
        FUZZ_CHECK(!e.ip.isEmpty());
        FUZZ_CHECK(e.port >= 1 && e.port <= 65535);
        // A text in the Ethernet form names its port after a ":" (a ";"
        // alone marks the form but is never read as the separator).
        if (CT::formOf(text) == CT::EthernetForm)
            FUZZ_CHECK(colon >= 0);
    }
    // What EthConnectDrive derives from the address: six bytes, ending 1.1.
    const QByteArray netId = AdsFrame::targetNetId(e.ip);
    FUZZ_CHECK(netId.size() == 6 && netId.at(4) == 1 && netId.at(5) == 1);
}

void checkSettings(int baud, int dataBits, int stopBits, const QString &parity)
{
    SerialLineSettings out;
    out.baud = -7; // a value fromText never produces: shows whether it wrote
    const bool ok = SerialLineSettings::fromText(baud, dataBits, stopBits, parity, &out);
    if (!ok) {
        FUZZ_CHECK(out.baud == -7);
    } else {
        FUZZ_CHECK(out.baud == baud && listedBaud(out.baud));
        FUZZ_CHECK(int(out.dataBits) == dataBits && dataBits >= 5 && dataBits <= 8);
        // 1.5 stop bits do not exist in this platform's line discipline.
        FUZZ_CHECK((stopBits == 1 && out.stopBits == QSerialPort::OneStop)
                   || (stopBits == 2 && out.stopBits == QSerialPort::TwoStop));
        FUZZ_CHECK(out.parity == QSerialPort::NoParity || out.parity == QSerialPort::EvenParity
                   || out.parity == QSerialPort::OddParity);
        const int gap = out.frameGapMs();
        FUZZ_CHECK(gap == 0 || gap == 3 || gap == 6 || gap == 10);
    }
    // With numbers the line supports, an ASCII first letter alone decides.
    const QString p = parity.trimmed();
    if (listedBaud(baud) && dataBits >= 5 && dataBits <= 8 && stopBits >= 1 && stopBits <= 2 && !p.isEmpty()
        && p.at(0).unicode() < 0x80) {
        const char first = char(p.at(0).toUpper().unicode());
        const bool known = first == 'N' || first == 'E' || first == 'O';
        FUZZ_CHECK(ok == known);
        if (ok)
            FUZZ_CHECK(out.parity
                       == (first == 'N'   ? QSerialPort::NoParity
                           : first == 'E' ? QSerialPort::EvenParity
                                          : QSerialPort::OddParity));
    }
}

void checkSerial(const QString &text)
{
    const CT::Serial s = CT::serial(text);
    // Five fields; fewer repeat the last one present, more are ignored.
    const QStringList parts = text.split(QLatin1Char(','));
    auto field = [&](int i) { return parts.at(qMin(i, parts.size() - 1)); };
    FUZZ_CHECK(s.portName == field(0));
    FUZZ_CHECK(s.baud == field(1).toInt(nullptr, 10));
    FUZZ_CHECK(s.dataBits == field(2).toInt(nullptr, 10));
    FUZZ_CHECK(s.stopBits == field(3).toInt(nullptr, 10));
    FUZZ_CHECK(s.parity == field(4));
    if (CT::acceptable(s)) {
        FUZZ_CHECK(!s.portName.isEmpty());
        FUZZ_CHECK(s.baud != 0 && s.dataBits != 0 && s.stopBits != 0);
    }
    checkSettings(s.baud, s.dataBits, s.stopBits, s.parity);
}

// Only texts that cannot reach a transport go to the driver.
void checkDriverRefuses(const QString &text)
{
    switch (CT::formOf(text)) {
    case CT::NoForm: FUZZ_CHECK(driver().ConnectDrive(text) == -4); break;
    case CT::EthernetForm:
        if (!CT::acceptable(CT::ethernet(text)))
            FUZZ_CHECK(driver().ConnectDrive(text) == -1);
        break;
    case CT::SerialForm: {
        const CT::Serial s = CT::serial(text);
        SerialLineSettings line;
        if (!CT::acceptable(s)
            || !SerialLineSettings::fromText(s.baud, s.dataBits, s.stopBits, s.parity, &line))
            FUZZ_CHECK(driver().ConnectDrive(text) == -1);
        break;
    }
    }
    // No connect happened: the link stays down.
    FUZZ_CHECK(driver().ReadVariable(QStringLiteral("MW10"), DT_Int16, 1).resultCode
               == CLabelVariable::RC_LinkDown);
}

void checkText(const QString &text)
{
    const CT::Form form = CT::formOf(text);
    const bool comma = text.contains(QLatin1Char(','));
    const bool colonOrSemicolon = text.contains(QLatin1Char(':')) || text.contains(QLatin1Char(';'));
    FUZZ_CHECK(form == (comma ? CT::SerialForm : colonOrSemicolon ? CT::EthernetForm : CT::NoForm));
    checkEthernet(text);
    checkSerial(text);
    checkDriverRefuses(text);
    // The parameter text: the AMS port in force (16 bits, or 0 for a text
    // that is no number), or -1 with nothing changed. Options alone keep the
    // port, so they tell which port is in force.
    const QString probe = QStringLiteral("reply-ms=2050");
    const int before = driver().SetConnectPar(probe);
    const int amsPort = driver().SetConnectPar(text);
    FUZZ_CHECK(amsPort >= -1 && amsPort <= 65535);
    // Texts of old never answer -1.
    if (!text.contains(QLatin1Char(':')) && !text.contains(QLatin1Char(';'))
        && !text.contains(QLatin1Char('=')))
        FUZZ_CHECK(amsPort != -1);
    FUZZ_CHECK(driver().SetConnectPar(probe) == (amsPort == -1 ? before : amsPort));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), int(size));
    const QString utf8 = fuzzsupport::utf8(raw);
    checkText(utf8);
    const QString latin1 = fuzzsupport::latin1(raw);
    if (latin1 != utf8)
        checkText(latin1);

    // The refusals and the settings on their own, with the numbers taken
    // straight from the input: the fuzzer finds the limits of integer
    // comparisons far sooner than the digits that spell them.
    ByteReader in(data, size);
    CT::Ethernet e;
    e.port = in.i32();
    e.ip = fuzzsupport::latin1(in.bytes(in.u8() % 2));
    if (CT::acceptable(e))
        FUZZ_CHECK(!e.ip.isEmpty() && e.port >= 1 && e.port <= 65535);
    CT::Serial s;
    s.baud = in.i32();
    s.dataBits = in.i32();
    s.stopBits = in.i32();
    s.portName = fuzzsupport::latin1(in.bytes(in.u8() % 2));
    s.parity = fuzzsupport::latin1(in.rest());
    if (CT::acceptable(s))
        FUZZ_CHECK(!s.portName.isEmpty() && s.baud != 0 && s.dataBits != 0 && s.stopBits != 0);
    checkSettings(s.baud, s.dataBits, s.stopBits, s.parity);
    return 0;
}
