// The one table from the link's results to the host's result codes.
#ifndef RESULTCODES_H
#define RESULTCODES_H

#include "link/LinkResult.h"
#include "value/CLabelVariable.h"

inline int resultCodeOf(int linkResult)
{
    switch (linkResult) {
    case LinkOk: return CLabelVariable::RC_Success;
    case LinkWrongReply: return CLabelVariable::RC_WrongReply;
    case LinkNoReply: return CLabelVariable::RC_NoReply;
    case LinkDown: return CLabelVariable::RC_LinkDown;
    case LinkBusy: return CLabelVariable::RC_Busy;
    default: return CLabelVariable::RC_NotDone;
    }
}

#endif // RESULTCODES_H
