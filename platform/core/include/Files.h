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

// noErr when the file exists, fnfErr when only its folder exists (the spec
// is filled in both cases), dirNFErr or another error otherwise.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec);
OSErr FSpDelete(const FSSpec* spec);
// Makes an empty file; dupFNErr when it exists.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);

// Type and creator of a file; zero when the file carries none.
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);

OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum);
OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr);
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);
OSErr FSClose(SInt16 refNum);
OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff);
OSErr GetFPos(SInt16 refNum, SInt32* filePos);
OSErr GetEOF(SInt16 refNum, SInt32* logEOF);

// Host and test support: conversion between specs and host paths. Names are
// Mac OS Roman in the spec and UTF-8 in the path.
bool TBPathFromFSSpec(const FSSpec& spec, std::string& path);
OSErr TBFSSpecFromPath(const std::string& path, FSSpec* spec);
