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

TB_EXPORT SInt16 FSpOpenResFile(const FSSpec* spec, SInt8 permission);
TB_EXPORT void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);
TB_EXPORT void UseResFile(SInt16 refNum);
TB_EXPORT SInt16 CurResFile();
TB_EXPORT void CloseResFile(SInt16 refNum);
TB_EXPORT void UpdateResFile(SInt16 refNum);
TB_EXPORT OSErr ResError();

TB_EXPORT Handle Get1Resource(ResType theType, SInt16 theID);

TB_EXPORT void DetachResource(Handle theResource);
TB_EXPORT void AddResource(Handle theData, ResType theType, SInt16 theID, ConstStr255Param name);
TB_EXPORT void RemoveResource(Handle theResource);
TB_EXPORT void ReleaseResource(Handle theResource);
TB_EXPORT void GetResInfo(Handle theResource, SInt16* theID, ResType* theType, Str255 name);

// The index-th string (from 1) of 'STR#' list strListID; empty when missing.
TB_EXPORT void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

// Host support: opens a resource file by host path, e.g. the bundle's
// Brimtone.rsrc, and makes it current. -1 on failure; ResError tells.
TB_EXPORT SInt16 TBOpenResFileAtPath(const char* path, SInt8 permission);
// Host support: an empty resource file for the absolute path, kept in memory
// and made current. UpdateResFile puts the whole file at path in one rename,
// replacing the regular file there, so a file rebuilt from scratch costs one
// save like any other change; closing it before that discards it.
TB_EXPORT SInt16 TBOpenNewResFileAtPath(const char* path, OSType creator, OSType fileType);
