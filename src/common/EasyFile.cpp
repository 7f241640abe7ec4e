#include "common/EasyFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "CFBundle.h"
#include "ImageCompression.h"
#include "ImageIO.h"
#include "LaunchServices.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "UTType.h"
#include "common/CommonProcs.h"
#include "graphics/CGglue.h"
#include "graphics/CommonProcs.h"

namespace {

constexpr OSType kAnyType = FOUR_CHAR_CODE("****");
constexpr RGBColor kWhite{65535, 65535, 65535};
// Parents are followed at most this far, against a cycle in the catalogue.
constexpr int kMaxFolderDepth = 1024;

CFStringRef NewCString(const char* theText)
{
    return theText != nullptr && theText[0] != 0
               ? CFStringCreateWithCString(kCFAllocatorDefault, theText, kCFStringEncodingUTF8)
               : nullptr;
}

void CopyPString(ConstStr255Param theSource, Str255 outCopy)
{
    if (theSource == nullptr)
        outCopy[0] = 0;
    else
        std::memcpy(outCopy, theSource, size_t(theSource[0]) + 1);
}

// Str255 from Mac OS Roman bytes, cut at 255.
void BytesToPString(const std::string& theBytes, Str255 outString)
{
    const size_t theLength = std::min<size_t>(theBytes.size(), 255);
    outString[0] = static_cast<unsigned char>(theLength);
    std::memcpy(outString + 1, theBytes.data(), theLength);
}

std::string PStringBytes(ConstStr255Param theString)
{
    return std::string(reinterpret_cast<const char*>(theString + 1), theString[0]);
}

// The first file of the reply's selection.
Boolean FirstFileOfReply(const NavReplyRecord& theReply, FSSpec& outFile)
{
    FileList theList{};
    AEDescListToFileList(theReply.selection, theList);
    if (theList.Count < 1)
        return false;
    outFile = theList.Spec[0];
    return true;
}

// A resource of the main bundle as a file reference.
bool MainBundleResource(const char* theName, const char* theType, const char* thePath, FSRef& outRef)
{
    CFBundleRef theBundle = CFBundleGetMainBundle();
    CFStringRef name = NewCString(theName);
    if (theBundle == nullptr || name == nullptr) {
        if (name != nullptr)
            CFRelease(name);
        return false;
    }
    CFStringRef type = NewCString(theType);
    CFStringRef path = NewCString(thePath);
    CFURLRef theURL = CFBundleCopyResourceURL(theBundle, name, type, path);
    for (CFStringRef s : {name, type, path})
        if (s != nullptr)
            CFRelease(s);
    if (theURL == nullptr)
        return false;
    const bool found = CFURLGetFSRef(theURL, &outRef);
    CFRelease(theURL);
    return found;
}

}  // namespace

OSErr AEDescListToFileList(const AEDescList& inList, FileList& outFileList)
{
    outFileList.Count = 0;
    long theCount = 0;
    OSErr theError = AECountItems(&inList, &theCount);
    if (theError != noErr)
        return theError;
    for (long i = 1; i <= theCount; ++i) {
        FSSpec theSpec{};
        AEKeyword theKeyword = 0;
        DescType theType = 0;
        Size theSize = 0;
        // The record's own size: it is wider here than the Mac's 70 bytes.
        theError = AEGetNthPtr(&inList, i, typeFSS, &theKeyword, &theType, &theSpec, sizeof(FSSpec),
                               &theSize);
        if (theError != noErr)
            return theError;
        if (i <= cMaxFilesInList)
            outFileList.Spec[i - 1] = theSpec;
        outFileList.Count = static_cast<SInt16>(std::min<long>(i, 32767));
    }
    return noErr;
}

Boolean EasyNavPutFile(ConstStr255Param inMessage, ConstStr255Param inDefaultName, OSType inType,
                       OSType inCreator, FSSpec& outSpec, Boolean& outReplacing)
{
    NavDialogOptions theOptions;
    NavGetDefaultDialogOptions(&theOptions);
    theOptions.dialogOptionFlags |= kNavNoTypePopup;
    CopyPString(inMessage, theOptions.message);
    CopyPString(inDefaultName, theOptions.savedFileName);
    NavReplyRecord theReply{};
    const OSErr theError =
        NavPutFile(nullptr, &theReply, &theOptions, nullptr, inType, inCreator, nullptr);
    Boolean theResult = false;
    if (theError == noErr && theReply.validRecord && FirstFileOfReply(theReply, outSpec)) {
        outReplacing = theReply.replacing;
        theResult = true;
    }
    NavDisposeReply(&theReply);
    return theResult;
}

Boolean EasyNavGetFile(ConstStr255Param inMessage, OSType inType, OSType inCreator,
                       Boolean inAllowMultiple, FSSpec& outFile)
{
    (void)inAllowMultiple;
    NavDialogOptions theOptions;
    NavGetDefaultDialogOptions(&theOptions);
    theOptions.dialogOptionFlags &= ~NavDialogOptionFlags(kNavAllowMultipleFiles);
    CopyPString(inMessage, theOptions.message);

    NavTypeListHandle theTypeList = nullptr;
    if (inType != kAnyType) {
        theTypeList = reinterpret_cast<NavTypeListHandle>(NewHandleClear(sizeof(NavTypeList)));
        if (theTypeList != nullptr) {
            (**theTypeList).componentSignature = inCreator;
            (**theTypeList).osTypeCount = 1;
            (**theTypeList).osType[0] = inType;
        }
    }
    NavReplyRecord theReply{};
    const OSErr theError = NavGetFile(nullptr, &theReply, &theOptions, nullptr, nullptr, nullptr,
                                      theTypeList, nullptr);
    const Boolean theResult =
        theError == noErr && theReply.validRecord && FirstFileOfReply(theReply, outFile);
    NavDisposeReply(&theReply);
    if (theTypeList != nullptr)
        DisposeHandle(reinterpret_cast<Handle>(theTypeList));
    return theResult;
}

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
    Str255 theName = {0};
    CInfoPBRec theBlock{};
    theBlock.dirInfo.ioNamePtr = theName;
    theBlock.dirInfo.ioVRefNum = 0;
    theBlock.dirInfo.ioDrDirID = 0;
    theBlock.dirInfo.ioFDirIndex = -1;
    if (PBGetCatInfoSync(&theBlock) != noErr)
        theName[0] = 0;
    BytesToPString(PStringBytes(theName) + ":", outName);
}

void GetFullPath(SInt32 dirID, SInt16 vRefNum, Str255 outPath)
{
    std::string thePath;
    Str255 theName = {0};
    CInfoPBRec theBlock{};
    theBlock.dirInfo.ioNamePtr = theName;
    theBlock.dirInfo.ioVRefNum = vRefNum;
    theBlock.dirInfo.ioDrParID = dirID;
    for (int theDepth = 0; theDepth < kMaxFolderDepth; ++theDepth) {
        theBlock.dirInfo.ioFDirIndex = -1;
        theBlock.dirInfo.ioDrDirID = theBlock.dirInfo.ioDrParID;
        if (PBGetCatInfoSync(&theBlock) != noErr)
            break;
        thePath = PStringBytes(theName) + ":" + thePath;
        if (theBlock.dirInfo.ioDrDirID == fsRtDirID)
            break;
    }
    BytesToPString(thePath, outPath);
}

OSStatus OpenDocumentInSpecificApp(const FSRef& theDocument, const FSRef* theApp)
{
    if (theApp == nullptr)
        return LSOpenFSRef(&theDocument, nullptr);
    const LSLaunchFSRefSpec theSpec{theApp, 1, &theDocument, nullptr, kLSLaunchDefaults, nullptr};
    return LSOpenFromRefSpec(&theSpec, nullptr);
}

// ---- Pictures and images -------------------------------------------------------

PicHandle LoadPictureFile(Str255 theName)
{
    CString2PString("Dummy", theName);
    FSSpec theSpec{};
    if (!EasyNavGetFile(PStr("Choose Picture"), kAnyType, kAnyType, false, theSpec))
        return nullptr;
    return ReadPictureFromFSS(theSpec, theName);
}

PicHandle ReadPictureFromFSS(const FSSpec& theFSS, Str255 theName)
{
    std::memcpy(theName, theFSS.name, size_t(std::min<unsigned char>(theFSS.name[0], 63)) + 1);
    GraphicsImportComponent theImporter = nullptr;
    if (GetGraphicsImporterForFile(&theFSS, &theImporter) != noErr || theImporter == nullptr)
        return nullptr;
    PicHandle thePicture = nullptr;
    if (GraphicsImportGetAsPicture(theImporter, &thePicture) != noErr)
        thePicture = nullptr;
    CloseComponent(theImporter);
    return thePicture;
}

PicHandle ReadPictureFromFSRefUsingQT(const FSRef& theFSRef, Str255 theName)
{
    return ReadPictureFromFSS(FSRef2FSSpec(theFSRef), theName);
}

PicHandle ReadPictureFromFSRef(const FSRef& theFSRef, Str255 theName)
{
    return ReadPictureFromFSRefUsingQT(theFSRef, theName);
}

PicHandle LoadPictureFromBundle(const char* theName, const char* theType)
{
    FSRef theRef{};
    if (!MainBundleResource(theName, theType, nullptr, theRef))
        return nullptr;
    Str255 theFileName;
    return ReadPictureFromFSRef(theRef, theFileName);
}

CGImageRef GetCGImageFromFSS(const FSSpec& theFSS)
{
    GraphicsImportComponent theImporter = nullptr;
    if (GetGraphicsImporterForFile(&theFSS, &theImporter) != noErr || theImporter == nullptr)
        return nullptr;
    CGImageRef theImage = nullptr;
    if (GraphicsImportCreateCGImage(theImporter, &theImage,
                                    kGraphicsImportCreateCGImageUsingCurrentSettings) != noErr)
        theImage = nullptr;
    CloseComponent(theImporter);
    return theImage;
}

CGImageRef GetCGImageFromURLUsingQT(CFURLRef theFile)
{
    FSRef theRef{};
    if (theFile == nullptr || !CFURLGetFSRef(theFile, &theRef))
        return nullptr;
    return GetCGImageFromFSS(FSRef2FSSpec(theRef));
}

CGImageRef GetCGImageFromURLUsingCG(CFURLRef theURL)
{
    if (theURL == nullptr)
        return nullptr;
    CGImageSourceRef theSource = CGImageSourceCreateWithURL(theURL, nullptr);
    if (theSource == nullptr)
        return nullptr;
    CGImageRef theImage = CGImageSourceGetCount(theSource) > 0
                              ? CGImageSourceCreateImageAtIndex(theSource, 0, nullptr)
                              : nullptr;
    CFRelease(theSource);
    return theImage;
}

CGImageRef GetCGImageFromFSRefUsingCG(const FSRef& theFSRef)
{
    CFURLRef theURL = CFURLCreateFromFSRef(kCFAllocatorDefault, &theFSRef);
    if (theURL == nullptr)
        return nullptr;
    CGImageRef theImage = GetCGImageFromURLUsingCG(theURL);
    CFRelease(theURL);
    return theImage;
}

CGImageRef GetCGImageFromFSSUsingCG(const FSSpec& theFSS)
{
    return GetCGImageFromFSRefUsingCG(FSSpec2FSRef(theFSS));
}

CGImageRef GetCGImageFromBundle(const char* theName, const char* theExtension, const char* thePath)
{
    FSRef theRef{};
    if (!MainBundleResource(theName, theExtension, thePath, theRef))
        return nullptr;
    return GetCGImageFromFSRefUsingCG(theRef);
}

PicHandle GetPICTFromURLUsingCG(CFURLRef theURL)
{
    CGImageRef theImage = GetCGImageFromURLUsingCG(theURL);
    if (theImage == nullptr)
        return nullptr;
    SInt32 wid, hig;
    GetImageDims(theImage, wid, hig);
    GWorldPtr theGW = wid > 0 && hig > 0 && wid <= 32767 && hig <= 32767
                          ? AllocateRectGWorld(Rect{0, 0, SInt16(hig), SInt16(wid)})
                          : nullptr;
    if (theGW == nullptr) {
        CGImageRelease(theImage);
        return nullptr;
    }
    const Rect theFrame = GetPortRect(theGW);
    ClearGW(theGW, kWhite);

    PicHandle thePicture = nullptr;
    {
        SavedGWorld savedGWorld(theGW);
        DrawCGImageInQDRect(theGW, theImage, theFrame, 0, true);
        PixMapHandle thePixMap = GetGWorldPixMap(theGW);
        const OpenCPicParams theHeader{theFrame, (**thePixMap).hRes, (**thePixMap).vRes, -2, 0, 0};
        thePicture = OpenCPicture(&theHeader);
        if (thePicture != nullptr) {
            const BitMap* theBits = GetPortBitMapForCopyBits(theGW);
            CopyBits(theBits, theBits, &theFrame, &theFrame, srcCopy, nullptr);
            ClosePicture();
        }
    }

    CGImageRelease(theImage);
    DisposeGWorld(theGW);
    return thePicture;
}

GWorldPtr GetScaledGWImageFromFSRef(const FSRef& theFSRef, SInt16 widScale, SInt16 higScale)
{
    if (widScale < 1 || higScale < 1)
        return nullptr;
    Str255 theName;
    PicHandle thePicture = ReadPictureFromFSRef(theFSRef, theName);
    if (thePicture == nullptr)
        return nullptr;
    Rect theFrame;
    QDGetPictureBounds(thePicture, &theFrame);
    OffsetRect(&theFrame, SInt16(-theFrame.left), SInt16(-theFrame.top));
    const SInt16 theWidth = SInt16(theFrame.right / widScale);
    const SInt16 theHeight = SInt16(theFrame.bottom / higScale);
    // A size that divides to nothing is no buffer to make, not a lack of memory.
    if (theWidth < 1 || theHeight < 1) {
        KillPicture(thePicture);
        return nullptr;
    }
    GWorldPtr theGW = AllocateGWorld(theWidth, theHeight);
    Assert(theGW, PStr("Cannot allocate new GWorld in GetScaledGWImageFromFSRef"));
    ClearGW(theGW, kWhite);
    DrawPictureInGW(theGW, thePicture, theFrame);
    KillPicture(thePicture);
    return theGW;
}

Boolean FileConformsTo(const FSRef& theFile, ConstStr255Param theUTI)
{
    CFStringRef theTarget = MakeCFString(theUTI);
    LSItemInfoRecord theInfo{};
    Boolean theResult = false;
    if (LSCopyItemInfoForRef(&theFile, kLSRequestExtension | kLSRequestTypeCreator, &theInfo) ==
        noErr) {
        CFStringRef theIdentifier = nullptr;
        if (theInfo.extension != nullptr) {
            theIdentifier = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension,
                                                                  theInfo.extension, nullptr);
            CFRelease(theInfo.extension);
        } else {
            CFStringRef theTypeText = UTCreateStringForOSType(theInfo.filetype);
            theIdentifier =
                UTTypeCreatePreferredIdentifierForTag(kUTTagClassOSType, theTypeText, nullptr);
            if (theTypeText != nullptr)
                CFRelease(theTypeText);
        }
        if (theIdentifier != nullptr) {
            theResult = UTTypeConformsTo(theIdentifier, theTarget);
            CFRelease(theIdentifier);
        }
    }
    if (theTarget != nullptr)
        CFRelease(theTarget);
    return theResult;
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
