#include "Dialogs.h"

#include "MacErrors.h"
#include "MacMemory.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>

struct OpaqueDialogPtr {
    AlertType type = kAlertPlainAlert;
    // Texts the alert holds a reference to; the button texts may also be the
    // markers for the system's titles, which are not objects.
    CFStringRef error = nullptr;
    CFStringRef explanation = nullptr;
    CFStringRef defaultText = nullptr;
    CFStringRef cancelText = nullptr;
    CFStringRef otherText = nullptr;
    DialogItemIndex defaultButton = kAlertStdAlertOKButton;
    DialogItemIndex cancelButton = 0;
};

namespace {

bool IsSystemTitle(CFStringRef text)
{
    return reinterpret_cast<intptr_t>(text) == -1;
}

CFStringRef Keep(CFStringRef text)
{
    if (text != nullptr && !IsSystemTitle(text))
        CFRetain(text);
    return text;
}

void Drop(CFStringRef text)
{
    if (!IsSystemTitle(text))
        CFRelease(text);
}

std::optional<std::string> ButtonTitle(CFStringRef text, const char* systemTitle)
{
    if (text == nullptr)
        return std::nullopt;
    if (IsSystemTitle(text))
        return std::string(systemTitle);
    return TBCFStringToUTF8(text);
}

const char* TypeName(AlertType type)
{
    switch (type) {
    case kAlertStopAlert:
        return "Stop";
    case kAlertNoteAlert:
        return "Note";
    case kAlertCautionAlert:
        return "Caution";
    default:
        return "Alert";
    }
}

DialogItemIndex ConsoleRunner(const TBAlertRequest& request)
{
    std::fprintf(stderr, "%s: %s\n", TypeName(request.type), request.headline.c_str());
    if (!request.text.empty())
        std::fprintf(stderr, "  %s\n", request.text.c_str());
    std::fflush(stderr);
    return request.defaultButton;
}

std::atomic<TBAlertRunner> gRunner{nullptr};

TBAlertRequest MakeRequest(const OpaqueDialogPtr& alert)
{
    TBAlertRequest request;
    request.type = alert.type;
    request.headline = TBCFStringToUTF8(alert.error);
    request.text = TBCFStringToUTF8(alert.explanation);
    request.okTitle = ButtonTitle(alert.defaultText, "OK").value_or("OK");
    request.cancelTitle = ButtonTitle(alert.cancelText, "Cancel");
    request.otherTitle = ButtonTitle(alert.otherText, "Don't Save");
    const auto present = [&](DialogItemIndex item) {
        return item == kAlertStdAlertOKButton ||
               (item == kAlertStdAlertCancelButton && request.cancelTitle.has_value()) ||
               (item == kAlertStdAlertOtherButton && request.otherTitle.has_value());
    };
    request.defaultButton = present(alert.defaultButton) ? alert.defaultButton
                                                         : DialogItemIndex(kAlertStdAlertOKButton);
    request.cancelButton = present(alert.cancelButton) ? alert.cancelButton : DialogItemIndex(0);
    return request;
}

}  // namespace

OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert)
{
    if (outAlert == nullptr)
        return paramErr;
    *outAlert = nullptr;
    auto* alert = TBNew<OpaqueDialogPtr>();
    if (alert == nullptr)
        return memFullErr;
    alert->type = alertType;
    alert->error = Keep(error);
    alert->explanation = Keep(explanation);
    if (param != nullptr) {
        alert->defaultText = Keep(param->defaultText);
        alert->cancelText = Keep(param->cancelText);
        alert->otherText = Keep(param->otherText);
        alert->defaultButton = param->defaultButton;
        alert->cancelButton = param->cancelButton;
    }
    *outAlert = alert;
    return noErr;
}

OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP, DialogItemIndex* outItemHit)
{
    if (inAlert == nullptr)
        return paramErr;
    const TBAlertRequest request = MakeRequest(*inAlert);
    const TBAlertRunner runner = gRunner.load();
    const DialogItemIndex item = runner != nullptr ? runner(request) : ConsoleRunner(request);
    DisposeDialog(inAlert);
    if (outItemHit != nullptr)
        *outItemHit = item;
    return noErr;
}

void DisposeDialog(DialogRef theDialog)
{
    if (theDialog == nullptr)
        return;
    Drop(theDialog->error);
    Drop(theDialog->explanation);
    Drop(theDialog->defaultText);
    Drop(theDialog->cancelText);
    Drop(theDialog->otherText);
    delete theDialog;
}

TBAlertRunner TBSetStandardAlertRunner(TBAlertRunner runner)
{
    return gRunner.exchange(runner);
}
