#include "host/SymbolUpload.h"

#include "host/ResultText.h"
#include "link/AdsLayout.h"
#include "link/WireBytes.h"

namespace {
// Older runtimes answer only the first 8 bytes of the upload's sizes, here.
const quint32 kGroupSymbolInfoOld = 0xF00C;
const int kInfoSizeOld = 8;

QString sizeText(qint64 bytes, bool megabytes)
{
    return megabytes ? QString::number(double(bytes) / 1e6, 'f', 1) : QString::number((bytes + 500) / 1000);
}
} // namespace

QList<SymbolUpload::Piece> SymbolUpload::plan(quint32 size, quint32 pieceBytes)
{
    QList<Piece> pieces;
    for (quint64 at = 0; at < size; at += pieceBytes) {
        const quint32 length = quint32(qMin<quint64>(pieceBytes, size - at));
        Piece words;
        words.offset = quint32(at);
        words.type = DT_UInt64;
        words.count = int(length / 8);
        if (words.count > 0)
            pieces.append(words);
        Piece tail;
        tail.offset = quint32(at) + quint32(words.count) * 8;
        tail.type = DT_UInt8;
        tail.count = int(length % 8);
        if (tail.count > 0)
            pieces.append(tail);
    }
    return pieces;
}

QString SymbolUpload::address(quint32 group, quint32 offset)
{
    return QStringLiteral("%1:%2").arg(group, 0, 16).arg(offset, 0, 16).toUpper();
}

SymbolUpload::SymbolUpload(CDriveBaseClass *driver, QTextStream &err, Table table)
    : m_driver(driver), m_err(err), m_table(table)
{
}

QLatin1String SymbolUpload::what() const
{
    return m_table == Table::DataTypes ? QLatin1String("data type table") : QLatin1String("symbol table");
}

bool SymbolUpload::refusedTypes(const CLabelVariable &r, const QString &at)
{
    if (m_table != Table::DataTypes || r.resultCode != CLabelVariable::RC_WrongReply || r.auxNumber == 0)
        return false;
    endProgress();
    m_err << "adsctl: the controller refuses the data type upload (reading " << at << ": "
          << ResultText::ofRead(r.resultCode, quint32(r.auxNumber)) << ")" << Qt::endl;
    return true;
}

bool SymbolUpload::run(quint32 *count, QByteArray *table)
{
    m_clock.start();
    m_progressShown = false;
    quint32 size = 0;
    if (!readInfo(count, &size))
        return false;
    if (size > MaxTableBytes) {
        m_err << "adsctl: the controller announced a " << what() << " of " << size << " bytes, more than the "
              << quint32(MaxTableBytes) << " adsctl takes" << Qt::endl;
        return false;
    }
    if (*count > MaxSymbols) {
        m_err << "adsctl: the controller announced " << *count
              << (m_table == Table::DataTypes ? " data types" : " symbols") << ", more than the "
              << quint32(MaxSymbols) << " adsctl lists" << Qt::endl;
        return false;
    }
    // One buffer, never grown: growing it would hold the table twice for a while.
    table->clear();
    table->reserve(int(size));
    for (const Piece &piece : plan(size, m_pieceBytes)) {
        if (!readPiece(piece, table))
            return false;
        progress(table->size(), size);
    }
    endProgress();
    return true;
}

bool SymbolUpload::readInfo(quint32 *count, quint32 *size)
{
    QString at = address(AdsLayout::GroupSymbolInfo, 0);
    int length = AdsLayout::InfoSize;
    CLabelVariable r = m_driver->ReadVariable(at, DT_UInt8, length);
    if (refusedTypes(r, at))
        return false;
    if (r.resultCode == CLabelVariable::RC_WrongReply && r.auxNumber != 0) {
        at = address(kGroupSymbolInfoOld, 0);
        length = kInfoSizeOld;
        r = m_driver->ReadVariable(at, DT_UInt8, length);
    }
    const QList<unsigned char> bytes = r.value.value<QList<unsigned char>>();
    if (r.resultCode != CLabelVariable::RC_Success || bytes.size() != length) {
        m_err << "adsctl: reading the " << what() << "'s size at " << at << ": "
              << (r.resultCode == CLabelVariable::RC_Success
                      ? QStringLiteral("%1 of %2 bytes").arg(bytes.size()).arg(length)
                      : ResultText::ofRead(r.resultCode, quint32(r.auxNumber)))
              << Qt::endl;
        return false;
    }
    const int first = m_table == Table::DataTypes ? AdsLayout::InfoDataTypeCount : AdsLayout::InfoSymbolCount;
    char info[8];
    for (int i = 0; i < 8; ++i)
        info[i] = char(bytes.at(first + i));
    *count = WireBytes::le32(info);
    *size = WireBytes::le32(info + 4);
    return true;
}

bool SymbolUpload::readPiece(const Piece &piece, QByteArray *table)
{
    const QString at = address(m_table == Table::DataTypes ? quint32(AdsLayout::GroupDataTypeTable)
                                                           : quint32(AdsLayout::GroupSymbolTable),
                               piece.offset);
    const CLabelVariable r = m_driver->ReadVariable(at, piece.type, piece.count);
    const int start = table->size();
    int got = -1;
    if (r.resultCode == CLabelVariable::RC_Success && piece.type == DT_UInt64
        && r.value.userType() == qMetaTypeId<QList<unsigned long long>>()) {
        const QList<unsigned long long> words = r.value.value<QList<unsigned long long>>();
        got = words.size();
        if (got == piece.count) {
            table->resize(start + got * 8);
            char *to = table->data() + start;
            for (const unsigned long long w : words) {
                WireBytes::putLe64(to, w);
                to += 8;
            }
        }
    } else if (r.resultCode == CLabelVariable::RC_Success
               && r.value.userType() == qMetaTypeId<QList<unsigned char>>()) {
        const QList<unsigned char> bytes = r.value.value<QList<unsigned char>>();
        got = bytes.size();
        if (got == piece.count) {
            for (const unsigned char b : bytes)
                table->append(char(b));
        }
    }
    if (r.resultCode == CLabelVariable::RC_Success && got == piece.count)
        return true;
    if (refusedTypes(r, at))
        return false;
    endProgress();
    m_err << "adsctl: reading the " << what() << " at " << at << " (" << piece.bytes() << " bytes): "
          << (r.resultCode == CLabelVariable::RC_Success
                  ? QStringLiteral("the driver gave %1 of %2 elements").arg(qMax(got, 0)).arg(piece.count)
                  : ResultText::ofRead(r.resultCode, quint32(r.auxNumber)))
          << Qt::endl;
    return false;
}

void SymbolUpload::progress(qint64 done, qint64 total)
{
    if (!m_progressShown && m_clock.elapsed() < m_progressAfterMs)
        return;
    m_progressShown = true;
    const bool megabytes = total >= 1000000;
    m_err << "\radsctl: " << what() << ' ' << sizeText(done, megabytes) << " of "
          << sizeText(total, megabytes) << (megabytes ? " MB" : " KB") << Qt::flush;
}

void SymbolUpload::endProgress()
{
    if (m_progressShown)
        m_err << Qt::endl;
    m_progressShown = false;
}
