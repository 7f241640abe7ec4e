// Standard alerts.
//
// Without the ui library an alert writes its texts to standard error and
// answers with its default button; the ui library installs a runner that
// shows a real message box, and tests install one to see what was shown.
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"

#include <optional>
#include <string>

typedef SInt16 AlertType;
enum {
    kAlertStopAlert = 0,
    kAlertNoteAlert = 1,
    kAlertCautionAlert = 2,
    kAlertPlainAlert = 3,
};

typedef SInt16 DialogItemIndex;
enum {
    kAlertStdAlertOKButton = 1,
    kAlertStdAlertCancelButton = 2,
    kAlertStdAlertOtherButton = 3,
    kAlertStdAlertHelpButton = 4,
};

enum {
    kStdCFStringAlertVersionOne = 1,
};

// Button texts that stand for the system's own titles.
enum {
    kAlertDefaultOKText = -1,
    kAlertDefaultCancelText = -1,
    kAlertDefaultOtherText = -1,
};

enum {
    kWindowDefaultPosition = 0,
};

struct OpaqueDialogPtr;
typedef OpaqueDialogPtr* DialogRef;
typedef DialogRef DialogPtr;

struct EventRecord;
typedef Boolean (*ModalFilterProcPtr)(DialogRef theDialog, EventRecord* theEvent,
                                      DialogItemIndex* itemHit);
typedef ModalFilterProcPtr ModalFilterUPP;

struct AlertStdCFStringAlertParamRec {
    UInt32 version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText;  // nil: no OK button text given, "OK" is shown
    CFStringRef cancelText;   // nil: no cancel button
    CFStringRef otherText;    // nil: no third button
    SInt16 defaultButton;
    SInt16 cancelButton;
    UInt16 position;
    OptionBits flags;
};
typedef AlertStdCFStringAlertParamRec* AlertStdCFStringAlertParamPtr;

// The alert is made with its own references to the texts, which it keeps
// until it has run or is disposed of. param may be nil: one "OK" button.
TB_EXPORT OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                                       const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// Runs the alert modally, then disposes of it. outItemHit gets the item of
// the pressed button: 1 OK, 2 cancel, 3 other.
TB_EXPORT OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc,
                                    DialogItemIndex* outItemHit);

// What an alert shows, in UTF-8.
struct TBAlertRequest {
    AlertType type = kAlertPlainAlert;
    std::string headline;
    std::string text;                        // informative text
    std::string okTitle;                     // item 1
    std::optional<std::string> cancelTitle;  // item 2
    std::optional<std::string> otherTitle;   // item 3
    DialogItemIndex defaultButton = kAlertStdAlertOKButton;  // pressed by Return
    DialogItemIndex cancelButton = 0;                        // pressed by Escape; 0 none
};

// Installs the routine that shows alerts and returns the pressed item; nil
// restores the console runner. Returns the runner that was installed.
using TBAlertRunner = DialogItemIndex (*)(const TBAlertRequest& request);
TB_EXPORT TBAlertRunner TBSetStandardAlertRunner(TBAlertRunner runner);

// Used inside the toolbox only, so not exported.
// Disposes of an alert that was not run.
void DisposeDialog(DialogRef theDialog);
