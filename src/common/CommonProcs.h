// Common services: alerts and fatal errors, strings, numbers, four-character
// codes, modifier keys, justified text, block cloning, nib windows and file
// references.
//
// Strings are Str255 (length byte, then up to 255 characters). Arguments are
// copied on entry, so a longer text is cut at 255 characters. Routines that
// produce a string write it into an out parameter given last (a Str255, or a
// Str32 for Command2String) and return nothing.
//
// String literals become Str255 through PStr, whose temporary lives until the
// end of the full expression:
//     Assert(theConfig, PStr("Nil theConfig in SetupDialog"));
//     Notify(PStr("Cannot locate manual in bundle"));
#pragma once

#include "CFURL.h"
#include "CoreFoundation.h"
#include "Files.h"
#include "MacTypes.h"
#include "QuickDraw.h"

#include <string>

// Same spelling as the ui library, which completes the type.
typedef struct OpaqueWindowPtr* WindowPtr;

enum {
    cmdMask = 256,
    shiftMask = 512,
    alphaLockMask = 1024,
    optionMask = 2048,
    ctrlMask = 4096,
};

// Decimal places that Real2String writes.
constexpr SInt16 cPrecision = 4;

// ---- Str255 from C text ----------------------------------------------------

// Copies a zero-terminated text into a Str255, cut at 255 characters; nil
// gives the empty text.
void CString2PString(const char* theCString, Str255 outString);

// Appends to a Str255, cut where it would pass 255 characters.
void AppendPString(Str255 theText, const unsigned char* theChars, size_t theCount);
void AppendPString(Str255 theText, ConstStr255Param theTail);
void AppendCString(Str255 theText, const char* theCString);

// A Str255 built from a zero-terminated text, usable wherever a Str255
// argument is expected.
class PStr {
public:
    explicit PStr(const char* theCString) { CString2PString(theCString, fText); }
    operator ConstStr255Param() const { return fText; }
    ConstStr255Param data() const { return fText; }

private:
    Str255 fText;
};

// ---- Alerts ----------------------------------------------------------------

// Caution alert with a default button titled okText and, unless cancelText is
// empty, a cancel button. Returns the item pressed: 1 default, 2 cancel.
// When the alert cannot be created or run it answers as the cancel button
// would (2), or 1 when there is no cancel button.
SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description,
                       ConstStr255Param okText, ConstStr255Param cancelText);
// Caution alert with the system's single OK button, for texts made at run
// time (paths, causes): UTF-8, never cut.
void CautionAlert(const std::string& headline, const std::string& description);
// Stop alert with the system's single OK button.
void StandardStop(ConstStr255Param headline, ConstStr255Param description);
// Stop alert, then ExitToShell.
[[noreturn]] void Terminate(ConstStr255Param headline, ConstStr255Param description);
// Ends the process with "Assertion Failure" when thePtr is nil; nothing else.
void Assert(const void* thePtr, ConstStr255Param failLocation);
// Function pointers (event handler procedures) do not convert to void*.
template <typename R, typename... A>
void Assert(R (*theProc)(A...), ConstStr255Param failLocation)
{
    Assert(reinterpret_cast<const void*>(theProc), failLocation);
}
// Caution alert "Internal Notification:" with one "ok" button; returns after it.
void Notify(ConstStr255Param theMessage);

// ---- Strings and Core Foundation -------------------------------------------

// A new Mac OS Roman CFString that the caller releases.
CFStringRef MakeCFString(ConstStr255Param theString);
// The Mac OS Roman text of theCFRef; empty for nil, for a text longer than
// 255 bytes and for characters that Mac OS Roman lacks.
void CF2PString(CFStringRef theCFRef, Str255 outString);
// Puts a zero after the last character (at position 255 for a full text).
void ZeroDelimitString(Str255 theStr);

// ---- Numbers ---------------------------------------------------------------

void Num2Text(SInt32 theNum, Str255 outText);
// Parses digits with "." or "," as the decimal separator and an optional
// leading "-"; stops at the first other character; 0 for a non-number.
void String2Real(ConstStr255Param theString, double& theNumber);
// Integer part and, unless zero, "." and exactly four truncated decimals.
// NaN gives "nan", infinities "inf" and "-inf"; other values beyond the
// signed 32-bit range are written as the nearest bound of that range.
void Real2String(double theReal, Str255 outText);
void SwapInt(SInt16& i1, SInt16& i2);

// ---- Four-character codes and commands --------------------------------------

// The first four characters, first in the high byte. A text shorter than
// four characters is padded with blanks.
UInt32 String2Command(ConstStr255Param theString);
// Always four characters long.
void Command2String(UInt32 theCommand, Str32 outString);
// Sends the command through ProcessHICommand. The dispatch is synchronous
// and keeps no reference to the record, so it is freed again afterwards.
void PostCommand(ConstStr255Param theCommand);

// ---- Keyboard --------------------------------------------------------------

Boolean IsShiftDown();
Boolean IsCtrlDown();
Boolean IsOptionDown();
Boolean IsCommandDown();

// ---- Justified text in the current port -------------------------------------

// Justification: 1 left, 2 centred, 3 right; other values act as left.
void DrawJustifiedTextInBox(Rect theBox, SInt16 theJustification, double theTextHeight,
                            ConstStr255Param theText);
// Paints what such a text covers, one pixel wider each side; codes other than
// 1, 2, 3 paint the whole box.
void PaintJustifiedRect(Rect theBox, SInt16 theJustification, ConstStr255Param theText);

// ---- Memory ----------------------------------------------------------------

// A new heap block holding a copy of theObject; nil for nil, for an empty
// block or when the allocation fails.
Ptr CloneObject(Ptr theObject);

// ---- Nib windows (dialog library) -------------------------------------------

// Window theWindow of nib theNib ("brimtone" when empty) in the bundle whose
// identifier is theIdentifier; the caller owns it. Never nil: a missing
// bundle asserts, a nib that cannot be opened terminates with an alert, and
// a window that cannot be made ends the process at once with the error's
// low byte as its status (1 when that byte is 0).
WindowPtr OpenNibWindowFromCFBundle(const char* theIdentifier, const char* theNib,
                                    const char* theWindow);
// The same for a nib of the main bundle ("main" when empty).
WindowPtr OpenNibWindow(const char* theNib, const char* theWindow);
void FlushWindowBuffer(WindowPtr theWindow);

// ---- File references (dialog library) ---------------------------------------

// Zeroed results when the conversion fails; a zeroed FSRef names no file,
// so everything made from it (URL, text, image) is nil or empty.
FSSpec FSRef2FSSpec(const FSRef& theRef);
FSRef FSSpec2FSRef(const FSSpec& theFSS);
// The text of the file's URL, a new string that the caller releases; nil
// when there is no URL.
CFStringRef FSRef2CFString(const FSRef& theFSRef);
CFStringRef FSSpec2CFString(const FSSpec& theFSS);
// Empty when there is no URL text.
void FSRef2Str255(const FSRef& theFSRef, Str255 outString);
void URL2Str255(CFURLRef theURL, Str255 outString);
// Nil when the text is not a valid URL; the caller releases the URL.
CFURLRef PString2URL(ConstStr255Param theString);
void GetNameFromFSRef(const FSRef& theFSRef, Str255 outName);
// True for folders, volumes and packages.
Boolean IsFileAFolder(const FSRef& theFile);
