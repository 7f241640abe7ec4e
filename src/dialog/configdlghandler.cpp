#include "dialog/configdlghandler.h"

#include <cstring>

#include "CFBundle.h"
#include "CoreGraphics.h"
#include "LaunchServices.h"
#include "common/CommonProcs.h"
#include "dialog/aboutwindow.h"
#include "dialog/carbonmacros.h"
#include "dialog/dlgUtils.h"
#include "dialog/sliderHandlers.h"
#include "effect/lineEffect.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

enum : SInt16 {
    kItemReopen = 0,
    kItemOK = 1,
    kItemCancel = 2,
};

WindowRef lgTheWindow = nullptr;
SInt16 lgItemHit = kItemCancel;
// Whether OK's save of this run failed.
bool lgSaveFailed = false;

constexpr OSType kClipSig = FOUR_CHAR_CODE("Clip");
constexpr OSType kColorSig = FOUR_CHAR_CODE("Colr");
constexpr OSType kColorCaptionSig = FOUR_CHAR_CODE("CLgd");
constexpr OSType kLegendSig = FOUR_CHAR_CODE("Lgnd");
constexpr OSType kThresholdFieldSig = FOUR_CHAR_CODE("Sval");
constexpr OSType kClipTextSig = FOUR_CHAR_CODE("ClpM");
constexpr OSType kRectSig = FOUR_CHAR_CODE("Rect");
constexpr OSType kMediaSig = FOUR_CHAR_CODE("Medi");
constexpr OSType kKeepSig = FOUR_CHAR_CODE("Keep");
constexpr OSType kTwoColorSig = FOUR_CHAR_CODE("2col");

constexpr int cUsesColor[cNumColors] = {cUsesColor1, cUsesColor2, cUsesColor3,
                                        cUsesColor4, cUsesColor5, cUsesColor6};

// The configuration as the dialog found it. Its image references are its
// own, so an image released while the dialog ran cannot come back dangling.
struct ConfigBackup {
    explicit ConfigBackup(pluginDataPtr theConfig) : fSaved(*theConfig)
    {
        if (fSaved.TheRendered != nullptr)
            CGImageRetain(fSaved.TheRendered);
        if (fSaved.TheOriginalImage != nullptr)
            CGImageRetain(fSaved.TheOriginalImage);
    }
    ConfigBackup(const ConfigBackup&) = delete;
    ConfigBackup& operator=(const ConfigBackup&) = delete;
    ~ConfigBackup()
    {
        if (fSaved.TheRendered != nullptr)
            CGImageRelease(fSaved.TheRendered);
        if (fSaved.TheOriginalImage != nullptr)
            CGImageRelease(fSaved.TheOriginalImage);
    }

    // The record owns TheRendered, so the one it holds now is released; the
    // saved references, with the backup's own counts, go to the record.
    void RestoreInto(pluginDataPtr theConfig)
    {
        if (theConfig->TheRendered != nullptr)
            CGImageRelease(theConfig->TheRendered);
        *theConfig = fSaved;
        fSaved.TheRendered = nullptr;
        fSaved.TheOriginalImage = nullptr;
    }

private:
    pluginDataRec fSaved;
};

void StepFrame(SInt32 theStep)
{
    ControlRef theSlider = gConfigWorkSpace.ClipSlider;
    if (theSlider == nullptr)
        return;
    SInt32 v = GetControl32BitValue(theSlider);
    if (theStep > 0 ? !(gConfigWorkSpace.MaxFrameIndex > v) : !(v > 0))
        return;
    v += theStep;
    SetControl32BitValue(theSlider, v);
    gConfigWorkSpace.CurrFrameIndex = v;
    AccessRenderAndBlit(v);
    Str255 theText;
    FramePositionText(v, gConfigWorkSpace.MaxFrameIndex, theText);
    SimpleSetControlText(lgTheWindow, kClipTextSig, 1, theText);
}

void OpenManual()
{
    CFStringRef theID =
        CFStringCreateWithCString(kCFAllocatorDefault, cMyBundleID, kCFStringEncodingASCII);
    CFBundleRef theBundle = theID != nullptr ? CFBundleGetBundleWithIdentifier(theID) : nullptr;
    if (theID != nullptr)
        CFRelease(theID);
    if (theBundle == nullptr) {
        Notify(PStr("Cannot Locate Bundle. Proceed with caution. Crash imminent"));
        return;
    }
    CFStringRef theName = CFStringCreateWithCString(kCFAllocatorDefault, "manual",
                                                    kCFStringEncodingASCII);
    CFStringRef theType = CFStringCreateWithCString(kCFAllocatorDefault, "pdf",
                                                    kCFStringEncodingASCII);
    CFURLRef theURL = CFBundleCopyResourceURL(theBundle, theName, theType, nullptr);
    CFRelease(theName);
    CFRelease(theType);
    if (theURL == nullptr) {
        Notify(PStr("Cannot locate manual in bundle"));
        return;
    }
    FSRef theRef;
    if (CFURLGetFSRef(theURL, &theRef)) {
        const OSStatus theStatus = LSOpenFSRef(&theRef, nullptr);
        if (theStatus == kLSApplicationNotFoundErr) {
            // Nothing here opens PDF files: say so, and where the manual is.
            CautionAlert("No PDF viewer is installed",
                         "Install one (and xdg-utils) to read the manual here, or open it with any PDF "
                         "reader: " + TBCFURLGetPath(theURL));
        } else if (theStatus != noErr) {
            Str255 theMessage;
            CString2PString("LSOpen failed with ", theMessage);
            Str255 theNumber;
            Num2Text(theStatus, theNumber);
            AppendPString(theMessage, theNumber);
            Notify(theMessage);
        }
    }
    CFRelease(theURL);
}

// OK saves while the dialog still shows, so that a failure is told over it.
// The settings then stay in the record for this run.
void SaveOrTell(pluginDataPtr theConfig)
{
    std::string theWhy;
    lgSaveFailed = theConfig != nullptr && !SaveConfig(theConfig, theWhy);
    if (lgSaveFailed)
        CautionAlert("Your settings were not saved", SaveFailureLine(theWhy));
}

// The window manager's close box ends the run as Cancel does.
OSStatus CloseAsCancel(EventHandlerCallRef, EventRef, void* userData)
{
    lgItemHit = kItemCancel;
    QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
    return noErr;
}

}  // namespace

const char* ConfigWindowName(SInt16 theMediaType)
{
    switch (theMediaType) {
    case 2:
        return "configPAL";
    case 3:
        return "configHD";
    default:
        return "configNTSC";
    }
}

std::string SaveFailureLine(const std::string& theWhy)
{
    return theWhy + "; they hold for this run only";
}

Boolean DoConfig(pluginDataPtr theConfig)
{
    Assert(theConfig, PStr("Nil theConfig on DoConfig"));
    ConfigBackup theBackup(theConfig);
    lgSaveFailed = false;

    // The window of another format opens where the last one was.
    bool placed = false;
    Rect thePlace{};
    do {
        // Anything but an explicit OK or media change ends the run as Cancel.
        lgItemHit = kItemCancel;
        lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName,
                                                ConfigWindowName(theConfig->MediaType));
        if (lgTheWindow == nullptr)
            break;
        Rect theBounds;
        if (placed && GetWindowBounds(lgTheWindow, kWindowContentRgn, &theBounds) == noErr) {
            OffsetRect(&theBounds, thePlace.left - theBounds.left, thePlace.top - theBounds.top);
            SetWindowBounds(lgTheWindow, kWindowContentRgn, &theBounds);
        }
        static const EventTypeSpec kCommandEvent[] = {{kEventClassCommand, kEventCommandProcess}};
        static const EventTypeSpec kCloseEvent[] = {{kEventClassWindow, kEventWindowClose}};
        // A window that could not take its handlers could never be closed.
        if (InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(TheDialogHandler), 1,
                                      kCommandEvent, lgTheWindow, nullptr) != noErr ||
            InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(CloseAsCancel), 1,
                                      kCloseEvent, lgTheWindow, nullptr) != noErr) {
            DisposeWindow(lgTheWindow);
            lgTheWindow = nullptr;
            break;
        }
        SetupDialog(lgTheWindow, theConfig);
        ShowWindow(lgTheWindow);
        SetPort(GetWindowPort(lgTheWindow));
        BringToFront(lgTheWindow);
        RunAppModalLoopForWindow(lgTheWindow);
        placed = GetWindowBounds(lgTheWindow, kWindowContentRgn, &thePlace) == noErr;
        DisposeWindow(lgTheWindow);
        lgTheWindow = nullptr;
        gConfigWorkSpace.TheWindow = nullptr;
    } while (lgItemHit == kItemReopen);

    if (lgItemHit != kItemOK)
        theBackup.RestoreInto(theConfig);
    return !(lgItemHit == kItemOK && lgSaveFailed);
}

void SetupDialog(WindowRef theWindow, pluginDataPtr theConfig)
{
    Assert(theWindow, PStr("Nil Window in SetupDialog"));
    Assert(theConfig, PStr("Nil theConfig in SetupDialog"));
    gConfigWorkSpace.TheWindow = theWindow;
    gConfigWorkSpace.TheFrameCtrl = SimpleGetControlByID(theWindow, kClipSig, 1);
    Assert(gConfigWorkSpace.TheFrameCtrl, PStr("Cannot acces Clip 1 CTRL"));
    // The preview's value only flips between 0 and 1 to ask for a redraw.
    SetControl32BitMinimum(gConfigWorkSpace.TheFrameCtrl, 0);
    SetControl32BitMaximum(gConfigWorkSpace.TheFrameCtrl, 1);
    SetupColors(theWindow, theConfig);
    SetupSliders(theWindow);
    SimpleHideControl(theWindow, kRectSig, 1);
    SimpleHideControl(theWindow, kRectSig, 2);
    SimpleSetControlValueByID(theWindow, kMediaSig, 1, theConfig->MediaType);
    SimpleSetControlValueByID(theWindow, kKeepSig, 1, theConfig->KeepProps ? 1 : 0);
    Config2Dlg(gConfigWorkSpace.TheConfig);
    CalcAndKeepImageProps();
    RenderLineArt(gConfigWorkSpace.TheConfig);
    ReRenderAndBlit();
}

void SetupColors(WindowRef theWindow, pluginDataPtr theConfig)
{
    for (SInt16 n = 1; n <= cNumColors; ++n) {
        ControlRef theControl = SimpleGetControlByID(theWindow, kColorSig, n);
        Assert(theControl, n == 2 ? PStr("Cannot allocate color2 in SetupDialog")
                                  : PStr("Cannot allocate color1 in SetupDialog"));
        SetControl32BitMinimum(theControl, 0);
        SetControl32BitMaximum(theControl, 0xFFFFFF);
        SetControl32BitValue(theControl, RGBColor2Longint(theConfig->Colors[n - 1]));
        if (cUsesColor[n - 1] == 1) {
            ShowControl(theControl);
            SimpleShowControl(theWindow, kColorCaptionSig, n);
        } else {
            HideControl(theControl);
            SimpleHideControl(theWindow, kColorCaptionSig, n);
        }
        gConfigWorkSpace.Colors[n - 1] = theControl;
    }
}

void Config2Dlg(pluginDataPtr theConfig)
{
    for (int n = 0; n < cNumColors; ++n)
        if (gConfigWorkSpace.Colors[n] != nullptr)
            SetControl32BitValue(gConfigWorkSpace.Colors[n], RGBColor2Longint(theConfig->Colors[n]));
    for (int n = 0; n < cNumSliders; ++n) {
        if (gConfigWorkSpace.Sliders[n] != nullptr)
            SetControl32BitValue(gConfigWorkSpace.Sliders[n], theConfig->Sliders[n]);
        Str255 theText;
        SliderValueText(theConfig->Sliders[n], theText);
        SimpleSetControlText(lgTheWindow, kLegendSig, SInt16(n + 1), theText);
    }
    SimpleSetControlValueByID(lgTheWindow, kThresholdFieldSig, 1, theConfig->Sliders[kThresholdSlider]);
    SimpleSetControlValueByID(lgTheWindow, kTwoColorSig, 0, theConfig->TwoColors ? 1 : 0);
    ReRenderAndBlit();
}

OSStatus TheDialogHandler(EventHandlerCallRef /*nextHandler*/, EventRef theEvent, void* userData)
{
    OSStatus result = eventNotHandledErr;
    HICommand theCommand;
    if (GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr,
                          sizeof(theCommand), nullptr, &theCommand) != noErr)
        return result;
    Str255 theName;
    CommandID2Str(theCommand.commandID, theName);
    lgItemHit = -1;
    WindowRef theWindow = static_cast<WindowRef>(userData);
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;

    if (IsCommand(theName, "ok  ")) {
        SaveOrTell(theConfig);
        lgItemHit = kItemOK;
        QuitAppModalLoopForWindow(theWindow);
        result = noErr;
    } else if (IsCommand(theName, "not!")) {
        lgItemHit = kItemCancel;
        QuitAppModalLoopForWindow(theWindow);
        result = noErr;
    } else if (IsCommand(theName, "Info")) {
        ShowAbout();
        result = noErr;
    } else if (theConfig == nullptr) {
        // The remaining commands edit the configuration.
    } else if (theName[0] == 4 && std::memcmp(theName + 1, "Col", 3) == 0 && theName[4] >= '1' &&
               theName[4] <= '6') {
        const int n = theName[4] - '1';
        theConfig->Colors[n] =
            Longint2RGBColor(SimpleGetControlValueByID(theWindow, kColorSig, SInt16(n + 1)));
        ReRenderAndBlit();
        result = noErr;
    } else if (IsCommand(theName, "Adva")) {
        StepFrame(1);
        result = noErr;
    } else if (IsCommand(theName, "Revi")) {
        StepFrame(-1);
        result = noErr;
    } else if (IsCommand(theName, "Rset")) {
        const SInt16 theMediaType = theConfig->MediaType;
        ResetConfig(theConfig, false);
        theConfig->MediaType = theMediaType;
        Config2Dlg(theConfig);
        // The check box follows the record, which the reset changed too.
        SimpleSetControlValueByID(theWindow, kKeepSig, 1, theConfig->KeepProps ? 1 : 0);
        RenderLineArt(theConfig);
        ReRenderAndBlit();
        result = noErr;
    } else if (IsCommand(theName, "Medi")) {
        const SInt16 theOld = theConfig->MediaType;
        theConfig->MediaType = SInt16(SimpleGetControlValueByID(theWindow, kMediaSig, 1));
        if (theConfig->MediaType != theOld) {
            lgItemHit = kItemReopen;
            QuitAppModalLoopForWindow(theWindow);
        }
        result = noErr;
    } else if (IsCommand(theName, "Sall")) {
        relRect theRel;
        InitRelRect(theRel);
        PutCurrentRel(theRel);
        ReRenderAndBlit();
        result = noErr;
    } else if (IsCommand(theName, "ClpS")) {
        ClipSliderReleased();
        result = noErr;
    } else if (IsCommand(theName, "Sval")) {
        ThresholdTyped(theWindow);
        result = noErr;
    } else if (theName[0] == 4 && std::memcmp(theName + 1, "Rgn", 3) == 0 && theName[4] >= '1' &&
               theName[4] <= '4') {
        RegionEdgeTyped(theWindow, SInt16(theName[4] - '0'));
        result = noErr;
    } else if (IsCommand(theName, "Help")) {
        OpenManual();
        result = noErr;
    } else if (IsCommand(theName, "Keep")) {
        theConfig->KeepProps = SimpleGetControlValueByID(theWindow, kKeepSig, 1) == 1;
        CalcAndKeepImageProps();
        ReRenderAndBlit();
        result = noErr;
    } else if (IsCommand(theName, "2col")) {
        theConfig->TwoColors = SimpleGetControlValueByID(theWindow, kTwoColorSig, 0) == 1;
        ReRenderAndBlit();
        result = noErr;
    }
    return result;
}
