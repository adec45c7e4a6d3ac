// The symbol upload through the host's interface alone: the table's symbol
// count and size from index group 0xF00F (24 bytes; 0xF00C, 8 bytes, when
// the controller refuses that, as older runtimes do), then the table from
// 0xF00B in pieces, each read at its offset with the explicit GROUP:OFFSET
// address. Pieces are read as uint64 elements, so that the host's list of
// them costs no more than the bytes; a tail of fewer than 8 bytes as uint8.
//
// The data type upload goes the same way: its count and size from bytes
// 8 to 15 of 0xF00F, then the table from 0xF00E. A runtime without it
// refuses 0xF00F; there is no older form to fall back to.
#ifndef SYMBOLUPLOAD_H
#define SYMBOLUPLOAD_H

#include "driver/CDriveBaseClass.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTextStream>

class SymbolUpload
{
public:
    struct Piece {
        quint32 offset = 0;
        DataType type = DT_UInt64;
        int count = 0;
        qint64 bytes() const { return type == DT_UInt64 ? qint64(count) * 8 : count; }
    };
    enum : quint32 {
        // Enough for the largest projects; a size beyond it is taken for a fault.
        MaxTableBytes = 256u << 20,
        // More than any project holds; the listing of more would take more
        // memory than a tool on the side should.
        MaxSymbols = 4000000u,
        TcpPieceBytes = 64u << 10,
        // A few hundred milliseconds at 9600 baud, well inside the reply wait.
        SerialPieceBytes = 1u << 10
    };

    // The reads that fetch `size` bytes in pieces of at most `pieceBytes`
    // (a multiple of 8).
    static QList<Piece> plan(quint32 size, quint32 pieceBytes);
    // "F00B:10000"
    static QString address(quint32 group, quint32 offset);

    enum class Table { Symbols, DataTypes };

    SymbolUpload(CDriveBaseClass *driver, QTextStream &err, Table table = Table::Symbols);
    void setPieceBytes(quint32 bytes) { m_pieceBytes = bytes; }
    // A progress line on `err` once the upload has taken this long.
    void setProgressAfterMs(qint64 ms) { m_progressAfterMs = ms; }

    // The count (of symbols, or of data types) the controller announced and
    // the table's bytes, held once at the size announced; false, after one
    // line on `err` naming the read that failed, when a read fails (a
    // controller's refusal of the data type upload said as such), or when
    // the size or the count announced is beyond the limits above (then
    // before the table is read).
    bool run(quint32 *count, QByteArray *table);

private:
    bool readInfo(quint32 *count, quint32 *size);
    bool readPiece(const Piece &piece, QByteArray *table);
    void progress(qint64 done, qint64 total);
    void endProgress();

    // "symbol table" or "data type table"
    QLatin1String what() const;
    // False, after a line on `err`, when the controller refused the data type upload.
    bool refusedTypes(const CLabelVariable &r, const QString &at);

    CDriveBaseClass *m_driver;
    QTextStream &m_err;
    Table m_table;
    quint32 m_pieceBytes = TcpPieceBytes;
    qint64 m_progressAfterMs = 1000;
    QElapsedTimer m_clock;
    bool m_progressShown = false;
};

#endif // SYMBOLUPLOAD_H
