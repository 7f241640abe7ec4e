// Resource Manager: classic resource files kept as whole ordinary files.
//
// Open files form a chain searched from the current file towards the file
// opened first. Resource handles belong to their file until DetachResource.
#pragma once

#include "Files.h"
#include "MacTypes.h"

enum {
    resSysHeap = 64,
    resPurgeable = 32,
    resLocked = 16,
    resProtected = 8,
    resPreload = 4,
    resChanged = 2,
};

SInt16 FSpOpenResFile(const FSSpec* spec, SInt8 permission);
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);
void UseResFile(SInt16 refNum);
SInt16 CurResFile();
void CloseResFile(SInt16 refNum);
void UpdateResFile(SInt16 refNum);
OSErr ResError();

Handle Get1Resource(ResType theType, SInt16 theID);
Handle GetResource(ResType theType, SInt16 theID);
Handle Get1NamedResource(ResType theType, ConstStr255Param name);
Handle GetNamedResource(ResType theType, ConstStr255Param name);
SInt16 Count1Resources(ResType theType);
Handle Get1IndResource(ResType theType, SInt16 index);
SInt16 HomeResFile(Handle theResource);

void DetachResource(Handle theResource);
void AddResource(Handle theData, ResType theType, SInt16 theID, ConstStr255Param name);
void RemoveResource(Handle theResource);
void ReleaseResource(Handle theResource);
void ChangedResource(Handle theResource);
void WriteResource(Handle theResource);
void GetResInfo(Handle theResource, SInt16* theID, ResType* theType, Str255 name);
void SetResInfo(Handle theResource, SInt16 theID, ConstStr255Param name);

// The index-th string (from 1) of 'STR#' list strListID; empty when missing.
void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

// Host support: opens a resource file by host path, e.g. the bundle's
// Brimtone.rsrc, and makes it current. -1 on failure; ResError tells.
SInt16 TBOpenResFileAtPath(const char* path, SInt8 permission);
// Host support: an empty resource file for the absolute path, kept in memory
// and made current. UpdateResFile puts the whole file at path in one rename,
// replacing the regular file there, so a file rebuilt from scratch costs one
// save like any other change; closing it before that discards it.
SInt16 TBOpenNewResFileAtPath(const char* path, OSType creator, OSType fileType);
