// Whether the link carries requests, as the host sees it, and when to call
// it down. A controller that is powered off or hung often keeps its TCP
// connection open for minutes: requests that go unanswered are counted, and
// after `down-after` of them in a row the link is down, so that every call
// answers at once while the line is brought back in the background. A line
// brought back counts as up once it answered a request; unanswered, it is
// down again at once, so each attempt on a frozen controller costs one call
// its reply wait.
//
// Every outage is logged, in English: down with the reason, up again with
// how long it was down. The host's own connects and disconnects are not.
#ifndef LINKHEALTH_H
#define LINKHEALTH_H

#include "link/LinkResult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class LinkHealth : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool up() const { return m_up; }

    // The host's connect worked (a working line replaced is no change).
    void connected(const QString &who);
    // The host closed the line.
    void closed();
    // A line came back in the background: up once it answers.
    void reconnected();
    // The line went, or is taken down: `reason` says why. False when it was
    // down already, and nothing was logged.
    bool wentDown(const QString &who, const QString &reason);
    // A request ended with `result`: true when that makes the link down.
    bool takeDown(LinkResult result, int downAfter);
    // Requests unanswered in a row so far.
    int unanswered() const { return m_unanswered; }

signals:
    void upChanged(bool up);

private:
    void setUp(bool up);
    void logUpAgain(const QString &who);

    bool m_up = false;
    bool m_probation = false; // brought back, not yet answered
    int m_unanswered = 0;
    QString m_who; // the line the last down was about
    QElapsedTimer m_downSince;
};

#endif // LINKHEALTH_H
