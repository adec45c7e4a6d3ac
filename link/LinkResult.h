// What the link answers for one request. The driver turns these into the
// host's result codes in one table.
#ifndef LINKRESULT_H
#define LINKRESULT_H

enum LinkResult : int {
    LinkOk = 0, // the reply was accepted
    LinkWrongReply = -1, // a reply came that does not answer the request, or carries an error
    LinkNoReply = -2, // no reply of ours came in time
    LinkDown = -3, // the line cannot carry a request (or the caller may not use it): nothing sent
    LinkBusy = -4 // another request of this link is waiting for its reply: nothing sent
};

#include <QString>
#include <QtGlobal>

// A result with the controller's own error, when it gave one (AMS error
// code, else ADS result): 0 otherwise.
struct LinkOutcome {
    LinkOutcome() = default;
    LinkOutcome(LinkResult result, quint32 controllerError) : result(result), controllerError(controllerError)
    {
    }

    LinkResult result = LinkOk;
    quint32 controllerError = 0;
    bool amsError = false; // the error came in the AMS header, not as the command's ADS result
    QString reason; // what happened, in English, when it failed
    bool lineWent = false; // the line went while the request waited for its reply

    // The command's own ADS result `code`: what a controller answers about
    // the request itself, as opposed to the AMS router about its delivery.
    bool adsError(quint32 code) const
    {
        return result == LinkWrongReply && !amsError && controllerError == code;
    }
};

#endif // LINKRESULT_H
