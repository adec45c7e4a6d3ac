// The controller's end of a pseudo-terminal pair. The driver opens the
// slave path as its serial port; this side reads and writes the master.
#ifndef SIMPTY_H
#define SIMPTY_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

class SimPty : public QObject
{
    Q_OBJECT
public:
    explicit SimPty(QObject *parent = nullptr);
    ~SimPty() override;

    bool open();
    QString slavePath() const { return m_slavePath; }
    bool isOpen() const { return m_master >= 0; }
    void write(const QByteArray &bytes);
    void close();
    // Drops what is in flight, in both directions, and leaves the pair open:
    // the client keeps its path, but sees no hang-up (only closing the
    // master shows one, and a pair closed cannot be opened again).
    void discard();

signals:
    void received(const QByteArray &bytes);

private:
    void readMaster();
    void flushPending();

    int m_master = -1;
    int m_slave = -1; // kept open so the master never sees a hang-up between driver sessions
    QString m_slavePath;
    QByteArray m_pending;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
};

#endif // SIMPTY_H
