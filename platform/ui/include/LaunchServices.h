// Launch Services: opening documents in the desktop's default application.
#pragma once

#include "CFURL.h"
#include "Files.h"
#include "MacTypes.h"

enum {
    kLSAppInTrashErr = -10660,
    kLSUnknownErr = -10810,
    kLSNotAnApplicationErr = -10811,
    kLSNoExecutableErr = -10827,
    kLSApplicationNotFoundErr = -10814,
    kLSLaunchInProgressErr = -10818,
};

typedef OptionBits LSLaunchFlags;
enum : LSLaunchFlags {
    kLSLaunchDefaults = 0x00000001,
    kLSLaunchAndPrint = 0x00000002,
    kLSLaunchDontSwitch = 0x00000200,
};

struct AEDesc;

struct LSLaunchFSRefSpec {
    const FSRef* appRef;  // nil: the default application of each document
    UInt32 numDocs;
    const FSRef* itemRefs;
    const AEDesc* passThruParams;
    LSLaunchFlags launchFlags;
    void* asyncRefCon;
};

typedef OptionBits LSRequestedInfo;
enum : LSRequestedInfo {
    kLSRequestExtension = 0x00000001,
    kLSRequestTypeCreator = 0x00000002,
    kLSRequestBasicFlagsOnly = 0x00000004,
    kLSRequestAllInfo = 0xFFFFFFFF,
};

typedef OptionBits LSItemInfoFlags;
enum : LSItemInfoFlags {
    kLSItemInfoIsPlainFile = 0x00000001,
    kLSItemInfoIsPackage = 0x00000002,
    kLSItemInfoIsApplication = 0x00000004,
    kLSItemInfoIsContainer = 0x00000008,
    kLSItemInfoIsAliasFile = 0x00000010,
    kLSItemInfoIsSymlink = 0x00000020,
    kLSItemInfoIsInvisible = 0x00000040,
    kLSItemInfoIsVolume = 0x00000200,
    kLSItemInfoExtensionIsHidden = 0x00100000,
};

struct LSItemInfoRecord {
    LSItemInfoFlags flags;
    OSType filetype;
    OSType creator;
    CFStringRef extension;  // the caller releases it; nil without one
    CFStringRef iconFileName;
    UInt32 kindID;
};

TB_EXPORT OSStatus LSOpenCFURLRef(CFURLRef inURL, CFURLRef* outLaunchedURL);
TB_EXPORT OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);
TB_EXPORT OSStatus LSOpenFromRefSpec(const LSLaunchFSRefSpec* inLaunchSpec, FSRef* outLaunchedRef);
TB_EXPORT OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo inWhichInfo,
                                        LSItemInfoRecord* outItemInfo);
