// Plain file output through the File Manager, and documents handed to the
// desktop through Launch Services.
//
// Navigation dialogs, Apple event file lists, picture and image importers
// and type identifiers have no stand-in in the toolbox yet; their routines
// are not offered here.
#pragma once

#include "Files.h"
#include "MacTypes.h"

inline constexpr int cMaxFilesInList = 4;

struct FileList {
    SInt16 Count;
    FSSpec Spec[cMaxFilesInList];
};

// Opens the data fork for reading and writing at its start; errors are not
// reported (theFileRefNum is then 0).
void PSPOpenFile(SInt16& theFileRefNum, const FSSpec& spec);
// Deletes the file, creates it anew with that type and creator and opens it
// as PSPOpenFile does; errors are not reported.
void PSPRewrite(SInt16& theFileRefNum, const FSSpec& spec, OSType fileType, OSType fileCreator);
// Writes the text's characters at the current position; nothing for "".
void FileWrite(SInt16 theFile, ConstStr255Param theText);
// The text and a carriage return (13); a full text loses its last character.
void FileWriteLn(SInt16 theFile, ConstStr255Param theText);
// The name of the process's current folder followed by ":".
void GetAppDirName(Str255 outName);
// Launch Services status of opening theDocument in theApp, or in the
// desktop's default application when theApp is nil.
OSStatus OpenDocumentInSpecificApp(const FSRef& theDocument, const FSRef* theApp);
// Opens Resources/thePath/theName.theExtension of the main bundle; nothing
// when it is missing.
void LaunchFileFromBundle(const char* theName, const char* theExtension, const char* thePath);
