// Result codes of the toolbox stand-ins, with the platform's values.
#pragma once

#include "MacTypes.h"

enum {
    paramErr = -50,
    userCanceledErr = -128,
    unimpErr = -4,

    // File Manager
    dirFulErr = -33,
    dskFulErr = -34,
    nsvErr = -35,
    ioErr = -36,
    bdNamErr = -37,
    fnOpnErr = -38,
    eofErr = -39,
    posErr = -40,
    tmfoErr = -42,
    fnfErr = -43,
    wPrErr = -44,
    fLckdErr = -45,
    vLckdErr = -46,
    fBsyErr = -47,
    dupFNErr = -48,
    opWrErr = -49,
    rfNumErr = -51,
    permErr = -54,
    wrPermErr = -61,
    dirNFErr = -120,

    // Memory Manager
    memFullErr = -108,
    nilHandleErr = -109,
    memWZErr = -111,

    // Resource Manager
    resNotFound = -192,
    resFNotFound = -193,
    addResFailed = -194,
    rmvResFailed = -196,
    resAttrErr = -198,
    mapReadErr = -199,

    // Carbon events
    eventNotHandledErr = -9874,
};
