// File Manager subset: file specifications and plain data-fork access.
//
// A volume/folder pair is mapped to a host folder: vRefNum is always -1 and
// parID is a process-wide number the File Manager gives to each folder it
// has seen (see FindFolder and TBFSSpecFromPath).
#pragma once

#include "MacTypes.h"

#include <string>

struct FSSpec {
    SInt16 vRefNum;
    SInt32 parID;
    Str63 name;
};
typedef FSSpec* FSSpecPtr;

struct FSRef {
    UInt8 hidden[80];
};

// Finder information; only type and creator are kept (as extended attributes).
struct FInfo {
    OSType fdType;
    OSType fdCreator;
    UInt16 fdFlags;
    Point fdLocation;
    SInt16 fdFldr;
};

enum {
    smSystemScript = -1,
};

enum {
    fsCurPerm = 0,
    fsRdPerm = 1,
    fsWrPerm = 2,
    fsRdWrPerm = 3,
    fsRdWrShPerm = 4,
};

enum {
    fsAtMark = 0,
    fsFromStart = 1,
    fsFromLEOF = 2,
    fsFromMark = 3,
};

// noErr when the file exists, fnfErr when only its folder exists (the file
// specification is filled in both cases), dirNFErr or another error otherwise.
TB_EXPORT OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec);
TB_EXPORT OSErr FSpDelete(const FSSpec* spec);
// Makes an empty file; dupFNErr when it exists.
TB_EXPORT OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);

// Type and creator of a file; zero when the file carries none.
TB_EXPORT OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);

TB_EXPORT OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum);
TB_EXPORT OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);
TB_EXPORT OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff);
TB_EXPORT OSErr FSClose(SInt16 refNum);

// Host and test support: conversion between file specifications and host
// paths. Names are Mac OS Roman in an FSSpec and UTF-8 in a path.
TB_EXPORT bool TBPathFromFSSpec(const FSSpec& spec, std::string& path);
TB_EXPORT OSErr TBFSSpecFromPath(const std::string& path, FSSpec* spec);

// Every save of a file (Resource Manager writes included) goes through one
// hidden temporary file beside it, renamed over it when whole. This removes
// the temporary files that interrupted saves of path left behind, and says
// how many. Callers make sure no save of path runs at the same time.
TB_EXPORT int TBRemoveStaleSaves(const std::string& path);

// ---- Catalogue information ---------------------------------------------------
//
// The one volume's root directory (ID 2, parent ID 1) is the host's "/" and
// carries the volume's name, TBVolumeName(); directory ID 0 with volume 0
// is the process's current folder.

enum : SInt32 {
    fsRtParID = 1,
    fsRtDirID = 2,
};

// The name of the one volume ("Linux").
TB_EXPORT const char* TBVolumeName();

typedef UInt32 FSCatalogInfoBitmap;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0x00000000,
    kFSCatInfoNodeFlags = 0x00000002,
    kFSCatInfoVolume = 0x00000004,
    kFSCatInfoParentDirID = 0x00000008,
    kFSCatInfoNodeID = 0x00000010,
};

enum : UInt16 {
    kFSNodeIsDirectoryMask = 0x0010,
};

// Only the fields of the bitmap's requests are filled.
struct FSCatalogInfo {
    UInt16 nodeFlags;
    SInt16 volume;
    UInt32 parentDirID;
    UInt32 nodeID;  // folders only; 0 for files
};

struct HFSUniStr255 {
    UInt16 length;
    UniChar unicode[255];
};

// Each out argument may be nil. fnfErr when the item is gone; bdNamErr when
// its name cannot be a Mac name (longer than 63 characters or not Mac OS Roman).
TB_EXPORT OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                                 FSCatalogInfo* catalogInfo, HFSUniStr255* outName, FSSpec* fsSpec,
                                 FSRef* parentRef);
TB_EXPORT OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);

enum : SInt8 {
    kioFlAttribDirMask = 0x10,
};

// Catalogue parameter blocks: both views begin with the same fields, so
// either may be read after a call.
struct HFileInfo {
    OSErr ioResult;
    StringPtr ioNamePtr;
    SInt16 ioVRefNum;
    SInt16 ioFDirIndex;
    SInt8 ioFlAttrib;
    SInt32 ioDirID;    // in: the folder to look in; out: a file's own number (0)
    SInt32 ioFlParID;  // out: the folder holding the item
    FInfo ioFlFndrInfo;
    SInt32 ioFlLgLen;
};

struct DirInfo {
    OSErr ioResult;
    StringPtr ioNamePtr;
    SInt16 ioVRefNum;
    SInt16 ioFDirIndex;
    SInt8 ioFlAttrib;
    SInt32 ioDrDirID;  // in: the folder; out: the item's directory ID
    SInt32 ioDrParID;  // out: the folder holding it
    UInt16 ioDrNmFls;
};

union CInfoPBRec {
    HFileInfo hFileInfo;
    DirInfo dirInfo;
};
typedef CInfoPBRec* CInfoPBPtr;

// ioFDirIndex < 0: the directory ioDrDirID itself (0: the current folder);
// its name goes to ioNamePtr when that is not nil.
// ioFDirIndex = 0: the item named ioNamePtr in the folder ioDirID, or the
// folder itself when the name is empty.
// ioFDirIndex > 0: the n-th item of the folder ioDirID, by name; fnfErr
// past the last. The result is also stored in ioResult.
TB_EXPORT OSErr PBGetCatInfoSync(CInfoPBPtr paramBlock);
