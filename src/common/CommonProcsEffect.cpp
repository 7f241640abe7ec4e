// The half of the common routines that the effect reports and converts
// with: alerts, strings, numbers, codes, keyboard, justified text, memory.
// The nib windows and file references are in CommonProcsDialog.cpp.
#include "common/CommonProcs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <limits>

#include "Dialogs.h"
#include "Events.h"
#include "MacMemory.h"
#include "Processes.h"
#include "graphics/CommonProcs.h"

namespace {

// Copy on entry: the caller's text may be changed by the alert's callbacks.
void CopyPString(ConstStr255Param theSource, Str255 outCopy)
{
    if (theSource == nullptr) {
        outCopy[0] = 0;
        return;
    }
    std::memcpy(outCopy, theSource, size_t(theSource[0]) + 1);
}

// Runs one standard alert and releases its texts; returns the item pressed,
// or 0 when the alert could not be shown.
DialogItemIndex RunAlert(AlertType theType, CFStringRef theHeadline, CFStringRef theDescription,
                         const AlertStdCFStringAlertParamRec* theParams)
{
    DialogRef theAlert = nullptr;
    DialogItemIndex theItem = 0;
    if (CreateStandardAlert(theType, theHeadline, theDescription, theParams, &theAlert) == noErr &&
        theAlert != nullptr) {
        if (RunStandardAlert(theAlert, nullptr, &theItem) != noErr)
            theItem = 0;
    }
    if (theHeadline != nullptr)
        CFRelease(theHeadline);
    if (theDescription != nullptr)
        CFRelease(theDescription);
    return theItem;
}

DialogItemIndex RunAlert(AlertType theType, ConstStr255Param headline, ConstStr255Param description,
                         const AlertStdCFStringAlertParamRec* theParams)
{
    return RunAlert(theType, MakeCFString(headline), MakeCFString(description), theParams);
}

bool IsDigit(unsigned char theChar)
{
    return theChar >= '0' && theChar <= '9';
}

bool IsDecimalSeparator(unsigned char theChar)
{
    return theChar == '.' || theChar == ',';
}

Boolean ModifierIsDown(UInt32 theMask)
{
    return (GetCurrentKeyModifiers() & theMask) != 0;
}

// Whole part of a double in range of SInt32 (NaN gives 0): the callers then
// do their arithmetic in 64 bits and cut the result to a coordinate.
SInt32 TruncateToSInt32(double theValue)
{
    if (std::isnan(theValue))
        return 0;
    if (theValue <= double(std::numeric_limits<SInt32>::min()))
        return std::numeric_limits<SInt32>::min();
    if (theValue >= double(std::numeric_limits<SInt32>::max()))
        return std::numeric_limits<SInt32>::max();
    return static_cast<SInt32>(theValue);
}

SInt16 Low16(SInt64 theValue)
{
    return static_cast<SInt16>(static_cast<UInt16>(theValue & 0xFFFF));
}

}  // namespace

void AppendPString(Str255 theText, const unsigned char* theChars, size_t theCount)
{
    const size_t room = 255 - size_t(theText[0]);
    const size_t taken = std::min(room, theCount);
    std::memcpy(theText + 1 + theText[0], theChars, taken);
    theText[0] = static_cast<unsigned char>(theText[0] + taken);
}

void AppendCString(Str255 theText, const char* theCString)
{
    AppendPString(theText, reinterpret_cast<const unsigned char*>(theCString),
                  std::strlen(theCString));
}

void AppendPString(Str255 theText, ConstStr255Param theTail)
{
    AppendPString(theText, theTail + 1, theTail[0]);
}

void CString2PString(const char* theCString, Str255 outString)
{
    outString[0] = 0;
    if (theCString != nullptr)
        AppendCString(outString, theCString);
}

// ---- Alerts ----------------------------------------------------------------

SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description,
                       ConstStr255Param okText, ConstStr255Param cancelText)
{
    Str255 theHeadline, theDescription, theOK, theCancel;
    CopyPString(headline, theHeadline);
    CopyPString(description, theDescription);
    CopyPString(okText, theOK);
    CopyPString(cancelText, theCancel);

    AlertStdCFStringAlertParamRec theParams{};
    theParams.version = kStdCFStringAlertVersionOne;
    theParams.movable = true;
    theParams.helpButton = false;
    theParams.defaultText = MakeCFString(theOK);
    theParams.cancelText = theCancel[0] > 0 ? MakeCFString(theCancel) : nullptr;
    theParams.otherText = nullptr;
    theParams.defaultButton = kAlertStdAlertOKButton;
    theParams.cancelButton = kAlertStdAlertCancelButton;
    theParams.position = 0;
    theParams.flags = 0;

    DialogItemIndex theItem = RunAlert(kAlertCautionAlert, theHeadline, theDescription, &theParams);
    const bool hasCancel = theParams.cancelText != nullptr;
    if (theParams.defaultText != nullptr)
        CFRelease(theParams.defaultText);
    if (theParams.cancelText != nullptr)
        CFRelease(theParams.cancelText);
    if (theItem == 0)
        theItem = hasCancel ? kAlertStdAlertCancelButton : kAlertStdAlertOKButton;
    return static_cast<SInt16>(theItem);
}

void CautionAlert(const std::string& headline, const std::string& description)
{
    RunAlert(kAlertCautionAlert,
             CFStringCreateWithCString(kCFAllocatorDefault, headline.c_str(), kCFStringEncodingUTF8),
             CFStringCreateWithCString(kCFAllocatorDefault, description.c_str(), kCFStringEncodingUTF8),
             nullptr);
}

void StandardStop(ConstStr255Param headline, ConstStr255Param description)
{
    Str255 theHeadline, theDescription;
    CopyPString(headline, theHeadline);
    CopyPString(description, theDescription);
    RunAlert(kAlertStopAlert, theHeadline, theDescription, nullptr);
}

void Terminate(ConstStr255Param headline, ConstStr255Param description)
{
    StandardStop(headline, description);
    ExitToShell();
}

void Assert(const void* thePtr, ConstStr255Param failLocation)
{
    if (thePtr != nullptr)
        return;
    Str255 theLocation;
    CopyPString(failLocation, theLocation);
    Str255 theDescription;
    CString2PString("Assertion failed in: ", theDescription);
    AppendPString(theDescription, theLocation);
    Terminate(PStr("Assertion Failure"), theDescription);
}

void Notify(ConstStr255Param theMessage)
{
    Str255 theCopy;
    CopyPString(theMessage, theCopy);
    Str255 noCancel = {0};
    StandardWarning(PStr("Internal Notification:"), theCopy, PStr("ok"), noCancel);
}

// ---- Strings and Core Foundation -------------------------------------------

CFStringRef MakeCFString(ConstStr255Param theString)
{
    Str255 theCopy;
    CopyPString(theString, theCopy);
    return CFStringCreateWithPascalString(kCFAllocatorDefault, theCopy, kCFStringEncodingMacRoman);
}

void CF2PString(CFStringRef theCFRef, Str255 outString)
{
    Str255 theBuffer;
    if (theCFRef == nullptr ||
        !CFStringGetPascalString(theCFRef, theBuffer, sizeof(theBuffer), kCFStringEncodingMacRoman)) {
        outString[0] = 0;
        return;
    }
    CopyPString(theBuffer, outString);
}

void ZeroDelimitString(Str255 theStr)
{
    theStr[std::min<size_t>(size_t(theStr[0]) + 1, 255)] = 0;
}

// ---- Numbers ---------------------------------------------------------------

void Num2Text(SInt32 theNum, Str255 outText)
{
    char theDigits[16];
    const auto theEnd = std::to_chars(theDigits, theDigits + sizeof(theDigits), theNum).ptr;
    outText[0] = 0;
    AppendPString(outText, reinterpret_cast<const unsigned char*>(theDigits),
                  size_t(theEnd - theDigits));
}

void String2Real(ConstStr255Param theString, double& theNumber)
{
    theNumber = 0;
    Str255 theText;
    CopyPString(theString, theText);
    const int theLength = theText[0];
    if (theLength == 0)
        return;
    int thePos = 1;
    unsigned char theChar = theText[thePos];
    if (theChar != '-' && !IsDecimalSeparator(theChar) && !IsDigit(theChar))
        return;
    const bool isNegative = theChar == '-';

    double theValue = 0;
    if (!IsDecimalSeparator(theChar)) {
        for (;;) {
            const int theDigit = theChar == '-' ? 0 : theChar - '0';
            theValue = theValue * 10 + theDigit;
            if (++thePos > theLength)
                break;
            theChar = theText[thePos];
            if (!IsDigit(theChar))
                break;
        }
    }
    if (thePos <= theLength && IsDecimalSeparator(theChar)) {
        double theFactor = 0.1;
        while (++thePos <= theLength && IsDigit(theText[thePos])) {
            theValue = theValue + (theText[thePos] - '0') * theFactor;
            theFactor = theFactor / 10;
        }
    }
    theNumber = isNegative ? -theValue : theValue;
}

void Real2String(double theReal, Str255 outText)
{
    if (std::isnan(theReal)) {
        CString2PString("nan", outText);
        return;
    }
    if (std::isinf(theReal)) {
        CString2PString(theReal < 0 ? "-inf" : "inf", outText);
        return;
    }
    const double theWhole = std::trunc(theReal);
    if (theWhole > double(std::numeric_limits<SInt32>::max()) ||
        theWhole < double(std::numeric_limits<SInt32>::min())) {
        Num2Text(TruncateToSInt32(theReal), outText);
        return;
    }
    const SInt32 theInteger = static_cast<SInt32>(theWhole);
    double thePowerOfTen = 1;
    for (int i = 0; i < cPrecision; ++i)
        thePowerOfTen *= 10;
    const SInt32 theFraction = static_cast<SInt32>(std::fabs(theReal - theWhole) * thePowerOfTen);

    outText[0] = 0;
    if (theFraction != 0 && theInteger == 0 && theReal < 0)
        AppendCString(outText, "-");
    Str255 theDigits;
    Num2Text(theInteger, theDigits);
    AppendPString(outText, theDigits);
    if (theFraction == 0)
        return;
    AppendCString(outText, ".");
    Num2Text(theFraction, theDigits);
    for (int i = theDigits[0]; i < cPrecision; ++i)
        AppendCString(outText, "0");
    AppendPString(outText, theDigits);
}

void SwapInt(SInt16& i1, SInt16& i2)
{
    std::swap(i1, i2);
}

// ---- Four-character codes and commands --------------------------------------

UInt32 String2Command(ConstStr255Param theString)
{
    Str255 theText;
    CopyPString(theString, theText);
    UInt32 theCode = 0;
    for (int i = 1; i <= 4; ++i) {
        const unsigned char theChar = i <= theText[0] ? theText[i] : ' ';
        theCode = (theCode << 8) | theChar;
    }
    return theCode;
}

void Command2String(UInt32 theCommand, Str32 outString)
{
    outString[0] = 4;
    for (int i = 0; i < 4; ++i)
        outString[1 + i] = static_cast<unsigned char>(theCommand >> (24 - 8 * i));
}

void PostCommand(ConstStr255Param theCommand)
{
    const UInt32 theCode = String2Command(theCommand);
    HICommand* theRecord = reinterpret_cast<HICommand*>(NewPtr(sizeof(HICommand)));
    Assert(theRecord, PStr("Allocating HICommand from post command"));
    theRecord->attributes = 0;
    theRecord->commandID = theCode;
    theRecord->menuRef = nullptr;
    theRecord->menuItemIndex = 0;
    ProcessHICommand(theRecord);
    DisposePtr(reinterpret_cast<Ptr>(theRecord));
}

// ---- Keyboard --------------------------------------------------------------

Boolean IsShiftDown()
{
    return ModifierIsDown(shiftMask);
}

Boolean IsCtrlDown()
{
    return ModifierIsDown(ctrlMask);
}

Boolean IsOptionDown()
{
    return ModifierIsDown(optionMask);
}

Boolean IsCommandDown()
{
    return ModifierIsDown(cmdMask);
}

// ---- Justified text in the current port -------------------------------------

void DrawJustifiedTextInBox(Rect theBox, SInt16 theJustification, double theTextHeight,
                            ConstStr255Param theText)
{
    Str255 theCopy;
    CopyPString(theText, theCopy);
    SInt32 w, h;
    GetDims(theBox, w, h);
    const SInt64 s = TruncateToSInt32(theTextHeight);
    const SInt64 t = StringWidth(theCopy);

    SInt64 x;
    switch (theJustification) {
    case 2:
        x = theBox.left + w / 2 - t / 2;
        break;
    case 3:
        x = theBox.right - 1 - t;
        break;
    default:
        x = theBox.left + 1;
        break;
    }
    const SInt64 y = theBox.bottom + (-SInt64(h)) / 2 + s / 2 - TruncateToSInt32(theTextHeight * 0.2);
    MoveTo(Low16(x), Low16(y));
    DrawString(theCopy);
}

void PaintJustifiedRect(Rect theBox, SInt16 theJustification, ConstStr255Param theText)
{
    Str255 theCopy;
    CopyPString(theText, theCopy);
    SInt32 w, h;
    GetDims(theBox, w, h);
    const SInt64 t = StringWidth(theCopy);

    Rect thePaint = theBox;
    switch (theJustification) {
    case 1:
        thePaint.right = Low16(SInt64(theBox.left) + 2 + t);
        break;
    case 2:
        thePaint.left = Low16(SInt64(theBox.left) + w / 2 - t / 2 - 1);
        thePaint.right = Low16(SInt64(thePaint.left) + 2 + t);
        break;
    case 3:
        thePaint.left = Low16(SInt64(theBox.right) - 2 - t);
        break;
    default:
        break;
    }
    PaintRect(&thePaint);
}

// ---- Memory ----------------------------------------------------------------

Ptr CloneObject(Ptr theObject)
{
    if (theObject == nullptr)
        return nullptr;
    const Size theSize = GetPtrSize(theObject);
    if (theSize < 1)
        return nullptr;
    Ptr theClone = NewPtr(theSize);
    if (theClone == nullptr)
        return nullptr;
    BlockMoveData(theObject, theClone, theSize);
    return theClone;
}
