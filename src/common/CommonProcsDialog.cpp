// The half of the common routines that only the dialog needs: nib windows
// and file references, on the toolbox's user interface.
#include "common/CommonProcs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CFBundle.h"
#include "IBCarbonRuntime.h"
#include "LaunchServices.h"
#include "MacWindows.h"

// ---- Nib windows -------------------------------------------------------------

namespace {

// Terminates with "<lead>"<what>" as it returned errcode #<n>." as the text.
void NibFailure(const char* theLead, const char* theWhat, OSStatus theError)
{
    const std::string theDescription = std::string(theLead) + "\"" + theWhat +
                                       "\" as it returned errcode #" + std::to_string(theError) + ".";
    Terminate(PStr("OpenNibWindow Failed"), PStr(theDescription.c_str()));
}

WindowPtr WindowFromNib(IBNibRef theNibRef, const char* theWindow)
{
    CFStringRef theName = CFStringCreateWithCString(kCFAllocatorDefault, theWindow,
                                                    kCFStringEncodingMacRoman);
    WindowPtr theResult = nullptr;
    // Without its name the window cannot be made for lack of memory.
    const OSStatus theError =
        theName != nullptr ? CreateWindowFromNib(theNibRef, theName, &theResult) : memFullErr;
    if (theName != nullptr)
        CFRelease(theName);
    if (theError != noErr || theResult == nullptr) {
        DisposeNibReference(theNibRef);
        const int theStatus = int(UInt32(theError) & 0xFF);
        std::fflush(nullptr);
        std::_Exit(theStatus != 0 ? theStatus : 1);
    }
    return theResult;
}

}  // namespace

WindowPtr OpenNibWindowFromCFBundle(const char* theIdentifier, const char* theNib,
                                    const char* theWindow)
{
    const char* theID = theIdentifier != nullptr ? theIdentifier : "";
    std::string theLocation = std::string("Cannot allocate CFSTR for ") + theID;
    CFStringRef theIDString =
        CFStringCreateWithCString(kCFAllocatorDefault, theID, kCFStringEncodingMacRoman);
    Assert(theIDString, PStr(theLocation.c_str()));
    CFBundleRef theBundle = CFBundleGetBundleWithIdentifier(theIDString);
    CFRelease(theIDString);
    theLocation = std::string("Cannot allocate bundle for ID = ") + theID;
    Assert(theBundle, PStr(theLocation.c_str()));
    CFRetain(theBundle);

    const char* theNibName = theNib != nullptr && theNib[0] != 0 ? theNib : "brimtone";
    CFStringRef theNibString =
        CFStringCreateWithCString(kCFAllocatorDefault, theNibName, kCFStringEncodingMacRoman);
    IBNibRef theNibRef = nullptr;
    const OSStatus theError = theNibString != nullptr
                                  ? CreateNibReferenceWithCFBundle(theBundle, theNibString, &theNibRef)
                                  : OSStatus(memFullErr);
    if (theNibString != nullptr)
        CFRelease(theNibString);
    if (theError != noErr || theNibRef == nullptr) {
        const std::string theWhat = std::string(theID) + "/" + theNibName;
        NibFailure("Unable to CreateNibReferenceWithCFBundle for ", theWhat.c_str(),
                   theError != noErr ? theError : OSStatus(kIBCarbonRuntimeCantFindNibFile));
    }
    WindowPtr theResult = WindowFromNib(theNibRef, theWindow != nullptr ? theWindow : "");
    DisposeNibReference(theNibRef);
    CFRelease(theBundle);
    return theResult;
}

WindowPtr OpenNibWindow(const char* theNib, const char* theWindow)
{
    const char* theNibName = theNib != nullptr && theNib[0] != 0 ? theNib : "main";
    CFStringRef theNibString =
        CFStringCreateWithCString(kCFAllocatorDefault, theNibName, kCFStringEncodingMacRoman);
    IBNibRef theNibRef = nullptr;
    const OSStatus theError = theNibString != nullptr ? CreateNibReference(theNibString, &theNibRef)
                                                      : OSStatus(memFullErr);
    if (theNibString != nullptr)
        CFRelease(theNibString);
    if (theError != noErr || theNibRef == nullptr)
        NibFailure("Unable to CreateNibReference for ", theNibName,
                   theError != noErr ? theError : OSStatus(kIBCarbonRuntimeCantFindNibFile));
    WindowPtr theResult = WindowFromNib(theNibRef, theWindow != nullptr ? theWindow : "");
    DisposeNibReference(theNibRef);
    return theResult;
}

void FlushWindowBuffer(WindowPtr theWindow)
{
    CGrafPtr thePort = GetWindowPort(theWindow);
    if (thePort == nullptr)
        return;
    Rect theBounds;
    GetPortBounds(thePort, &theBounds);
    RgnHandle theRegion = NewRgn();
    RectRgn(theRegion, &theBounds);
    QDFlushPortBuffer(thePort, theRegion);
    DisposeRgn(theRegion);
}

// ---- File references ---------------------------------------------------------

FSSpec FSRef2FSSpec(const FSRef& theRef)
{
    FSSpec theSpec{};
    if (FSGetCatalogInfo(&theRef, kFSCatInfoNone, nullptr, nullptr, &theSpec, nullptr) != noErr)
        theSpec = FSSpec{};
    return theSpec;
}

FSRef FSSpec2FSRef(const FSSpec& theFSS)
{
    FSRef theRef{};
    if (FSpMakeFSRef(&theFSS, &theRef) != noErr)
        theRef = FSRef{};
    return theRef;
}

CFStringRef FSRef2CFString(const FSRef& theFSRef)
{
    CFURLRef theURL = CFURLCreateFromFSRef(kCFAllocatorDefault, &theFSRef);
    if (theURL == nullptr)
        return nullptr;
    CFStringRef theText = CFURLGetString(theURL);
    CFStringRef theCopy =
        theText != nullptr ? CFStringCreateCopy(kCFAllocatorDefault, theText) : nullptr;
    CFRelease(theURL);
    return theCopy;
}

CFStringRef FSSpec2CFString(const FSSpec& theFSS)
{
    return FSRef2CFString(FSSpec2FSRef(theFSS));
}

void FSRef2Str255(const FSRef& theFSRef, Str255 outString)
{
    outString[0] = 0;
    CFStringRef theText = FSRef2CFString(theFSRef);
    if (theText == nullptr)
        return;
    CF2PString(theText, outString);
    CFRelease(theText);
}

void URL2Str255(CFURLRef theURL, Str255 outString)
{
    outString[0] = 0;
    if (theURL != nullptr)
        CF2PString(CFURLGetString(theURL), outString);
}

CFURLRef PString2URL(ConstStr255Param theString)
{
    CFStringRef theText = MakeCFString(theString);
    if (theText == nullptr)
        return nullptr;
    CFURLRef theURL = CFURLCreateWithString(kCFAllocatorDefault, theText, nullptr);
    CFRelease(theText);
    return theURL;
}

void GetNameFromFSRef(const FSRef& theFSRef, Str255 outName)
{
    const FSSpec theSpec = FSRef2FSSpec(theFSRef);
    std::memcpy(outName, theSpec.name, size_t(std::min<unsigned char>(theSpec.name[0], 63)) + 1);
}

Boolean IsFileAFolder(const FSRef& theFile)
{
    LSItemInfoRecord theInfo{};
    if (LSCopyItemInfoForRef(&theFile, kLSRequestBasicFlagsOnly, &theInfo) != noErr)
        return false;
    if (theInfo.extension != nullptr)
        CFRelease(theInfo.extension);
    return (theInfo.flags & kLSItemInfoIsContainer) != 0;
}
