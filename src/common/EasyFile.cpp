#include "common/EasyFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "CFBundle.h"
#include "LaunchServices.h"
#include "common/CommonProcs.h"

namespace {

CFStringRef NewCString(const char* theText)
{
    return theText != nullptr && theText[0] != 0
               ? CFStringCreateWithCString(kCFAllocatorDefault, theText, kCFStringEncodingUTF8)
               : nullptr;
}

}  // namespace

void PSPOpenFile(SInt16& theFileRefNum, const FSSpec& spec)
{
    theFileRefNum = 0;
    if (FSpOpenDF(&spec, fsRdWrPerm, &theFileRefNum) != noErr)
        theFileRefNum = 0;
    else
        SetFPos(theFileRefNum, fsFromStart, 0);
}

void PSPRewrite(SInt16& theFileRefNum, const FSSpec& spec, OSType fileType, OSType fileCreator)
{
    FSpDelete(&spec);
    FSpCreate(&spec, fileCreator, fileType, smSystemScript);
    PSPOpenFile(theFileRefNum, spec);
}

void FileWrite(SInt16 theFile, ConstStr255Param theText)
{
    SInt32 theCount = theText[0];
    if (theCount > 0)
        FSWrite(theFile, &theCount, theText + 1);
}

void FileWriteLn(SInt16 theFile, ConstStr255Param theText)
{
    Str255 theLine;
    std::memcpy(theLine, theText, size_t(theText[0]) + 1);
    if (theLine[0] == 255)
        theLine[255] = 13;
    else
        theLine[++theLine[0]] = 13;
    FileWrite(theFile, theLine);
}

void GetAppDirName(Str255 outName)
{
    std::error_code theError;
    const std::filesystem::path theFolder = std::filesystem::current_path(theError);
    std::string theText = theError ? std::string() : theFolder.filename().string();
    if (theText.empty() && !theError)
        theText = theFolder.root_path().string();
    theText += ":";
    CString2PString(theText.c_str(), outName);
}

OSStatus OpenDocumentInSpecificApp(const FSRef& theDocument, const FSRef* theApp)
{
    if (theApp == nullptr)
        return LSOpenFSRef(&theDocument, nullptr);
    const LSLaunchFSRefSpec theSpec{theApp, 1, &theDocument, nullptr, kLSLaunchDefaults, nullptr};
    return LSOpenFromRefSpec(&theSpec, nullptr);
}

void LaunchFileFromBundle(const char* theName, const char* theExtension, const char* thePath)
{
    CFBundleRef theBundle = CFBundleGetMainBundle();
    if (theBundle == nullptr)
        return;
    CFStringRef name = NewCString(theName);
    CFStringRef extension = NewCString(theExtension);
    CFStringRef path = NewCString(thePath);
    CFURLRef theURL = name != nullptr ? CFBundleCopyResourceURL(theBundle, name, extension, path)
                                      : nullptr;
    for (CFStringRef s : {name, extension, path})
        if (s != nullptr)
            CFRelease(s);
    if (theURL == nullptr)
        return;
    LSOpenCFURLRef(theURL, nullptr);
    CFRelease(theURL);
}
