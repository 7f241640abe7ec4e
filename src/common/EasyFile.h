// Navigation dialogs, plain file output through the File Manager, pictures
// and images read from files and bundles, documents handed to the desktop
// through Launch Services, and type identifiers of files.
//
// Strings come back in a Str255 out parameter. Pictures, images and buffers
// returned here belong to the caller (KillPicture, CGImageRelease,
// DisposeGWorld).
#pragma once

#include "CFURL.h"
#include "CoreGraphics.h"
#include "Files.h"
#include "MacTypes.h"
#include "Navigation.h"
#include "QuickDraw.h"

inline constexpr int cMaxFilesInList = 4;

struct FileList {
    SInt16 Count;
    FSSpec Spec[cMaxFilesInList];
};

// Opens the data fork for reading and writing at its start; errors are not
// reported (theFileRefNum is then 0).
// Count is the number of items read (it may exceed cMaxFilesInList); only
// the first cMaxFilesInList specifications are stored. Returns the first
// Apple event error, the items before it kept.
OSErr AEDescListToFileList(const AEDescList& inList, FileList& outFileList);

// Save dialog for a file of that type and creator proposing inDefaultName;
// true with the chosen file when the user confirmed.
Boolean EasyNavPutFile(ConstStr255Param inMessage, ConstStr255Param inDefaultName, OSType inType,
                       OSType inCreator, FSSpec& outSpec, Boolean& outReplacing);
// Open dialog for one file ("****" offers every file; inAllowMultiple is not
// honoured: one file is chosen); true with the chosen file.
Boolean EasyNavGetFile(ConstStr255Param inMessage, OSType inType, OSType inCreator,
                       Boolean inAllowMultiple, FSSpec& outFile);

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
// "volume:folder:subfolder:" for a directory; the part gathered so far when
// a parent cannot be read (empty for an unknown directory).
void GetFullPath(SInt32 dirID, SInt16 vRefNum, Str255 outPath);
// Launch Services status of opening theDocument in theApp, or in the
// desktop's default application when theApp is nil.
OSStatus OpenDocumentInSpecificApp(const FSRef& theDocument, const FSRef* theApp);
// Opens Resources/thePath/theName.theExtension of the main bundle; nothing
// when it is missing.
void LaunchFileFromBundle(const char* theName, const char* theExtension, const char* thePath);

// ---- Pictures and images -------------------------------------------------------

// Asks for a picture file ("Choose Picture"); theName is "Dummy" until a
// file is chosen, then the file's name. Nil when cancelled or not a picture.
PicHandle LoadPictureFile(Str255 theName);
// The file's first image as a picture through a graphics importer; theName
// becomes the file's name. Nil when the file is not an image.
PicHandle ReadPictureFromFSS(const FSSpec& theFSS, Str255 theName);
PicHandle ReadPictureFromFSRefUsingQT(const FSRef& theFSRef, Str255 theName);
PicHandle ReadPictureFromFSRef(const FSRef& theFSRef, Str255 theName);
// Resources/theName.theType of the main bundle as a picture; nil when missing.
PicHandle LoadPictureFromBundle(const char* theName, const char* theType);

// Images through a graphics importer; nil when none reads the file.
CGImageRef GetCGImageFromFSS(const FSSpec& theFSS);
CGImageRef GetCGImageFromURLUsingQT(CFURLRef theFile);
// Images through an image source; nil when the file holds none.
CGImageRef GetCGImageFromURLUsingCG(CFURLRef theURL);
CGImageRef GetCGImageFromFSRefUsingCG(const FSRef& theFSRef);
CGImageRef GetCGImageFromFSSUsingCG(const FSSpec& theFSS);
// Resources/thePath/theName.theExtension of the main bundle; nil when missing.
CGImageRef GetCGImageFromBundle(const char* theName, const char* theExtension, const char* thePath);
// The image file as a picture of the image's size at (0,0), on white.
PicHandle GetPICTFromURLUsingCG(CFURLRef theURL);
// A buffer of the picture's size divided by the factors, white, holding the
// picture at its own size from the top-left corner (so only its top-left
// part when a factor exceeds 1). Nil for factors below 1, a file that is no
// picture or a size that divides to 0; ends the process through Assert when
// the buffer cannot be made.
GWorldPtr GetScaledGWImageFromFSRef(const FSRef& theFSRef, SInt16 widScale, SInt16 higScale);

// Whether the file's type identifier (from its name extension, else from its
// four-character file type) conforms to theUTI, e.g. "public.image".
Boolean FileConformsTo(const FSRef& theFile, ConstStr255Param theUTI);
