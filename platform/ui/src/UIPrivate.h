// The records behind the ui library's references, shared by its sources.
#pragma once

#include "CarbonEvents.h"
#include "Controls.h"
#include "MacMemory.h"
#include "MacWindows.h"
#include "QuickDrawInternal.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QEventLoop;
class QObject;

using StandardHandler = OSStatus (*)(EventHandlerCallRef call, EventRef event, void* owner);

struct OpaqueEventHandlerRef {
    UInt64 serial = 0;
    OpaqueEventTargetRef* target = nullptr;
    EventHandlerUPP proc = nullptr;
    void* userData = nullptr;
    std::vector<EventTypeSpec> types;
};

struct OpaqueToolboxObjectClassRef {
    CFStringRef classID = nullptr;
    std::vector<EventTypeSpec> types;
    EventHandlerUPP proc = nullptr;
    void* userData = nullptr;
    bool registered = true;
    int instances = 0;  // controls of the class keep it alive
};

struct OpaqueEventTargetRef {
    OpaqueEventTargetRef() = default;
    OpaqueEventTargetRef(const OpaqueEventTargetRef&) = delete;
    OpaqueEventTargetRef& operator=(const OpaqueEventTargetRef&) = delete;
    ~OpaqueEventTargetRef();

    std::vector<OpaqueEventHandlerRef*> handlers;  // in the order of installation
    OpaqueEventTargetRef* parent = nullptr;         // where command events go on
    OpaqueToolboxObjectClassRef* objectClass = nullptr;
    StandardHandler standard = nullptr;
    void* owner = nullptr;
};

enum class ControlKind {
    Custom,
    Slider,
    SpinBox,
    Progress,
    PushButton,
    CheckBox,
    Popup,
    StaticText,
    EditText,
    TextArea,
    GroupBox,
    Other,
};

struct OpaqueMenuRef {
    UInt32 magic = 0;
    OpaqueControlRef* control = nullptr;
    OpaqueEventTargetRef target;
};

struct OpaqueControlRef {
    UInt32 magic = 0;
    OpaqueWindowPtr* window = nullptr;
    QPointer<QWidget> widget;
    ControlKind kind = ControlKind::Other;
    ControlID id{0, 0};
    UInt32 command = 0;
    OpaqueEventTargetRef target;
    SInt32 value = 0;
    SInt32 minimum = 0;
    SInt32 maximum = 0;
    SInt32 refCon = 0;
    ControlPartCode hilite = 0;
    bool active = true;
    bool needsDraw = true;
    bool painting = false;
    int settingFromCode = 0;
    ControlActionUPP action = nullptr;
    QString text;  // for controls whose widget has no text
    QImage backing;  // drawn by a custom control at the screen's scale, shown over the port's pixels
    std::unique_ptr<OpaqueMenuRef> menu;
    QObject* filter = nullptr;
};

struct OpaqueWindowPtr {
    UInt32 magic = 0;
    QPointer<QWidget> widget;
    GrafPtr port = nullptr;
    std::unique_ptr<UInt32[]> pixels;
    SInt32 rowBytes = 0;
    OpaqueEventTargetRef target;
    std::vector<OpaqueControlRef*> controls;
    std::vector<QEventLoop*> modalLoops;  // innermost last
    QObject* filter = nullptr;
    bool disposing = false;
};

constexpr UInt32 kWindowMagic = 0x57696E64;   // "Wind"
constexpr UInt32 kControlMagic = 0x436E746C;  // "Cntl"
constexpr UInt32 kMenuMagic = 0x4D656E75;     // "Menu"

namespace tbui {

// Gives the keyboard back to the window that had it once a modal dialog
// (picker, alert, file dialog) is gone; without a window manager nobody else does.
struct ReturnFocusAfterModal {
    QPointer<QWidget> window = QApplication::activeWindow();
    ~ReturnFocusAfterModal()
    {
        if (window != nullptr && window->isVisible()) window->activateWindow();
    }
};

// Liveness of references handed out to callers.
bool LiveWindow(WindowRef window);
bool LiveControl(ControlRef control);
bool LiveMenu(MenuRef menu);
const std::vector<WindowRef>& AllWindows();

// Events
OpaqueEventTargetRef* ApplicationTarget();
EventRef NewEvent(UInt32 eventClass, UInt32 kind);
OSStatus SendCommand(UInt32 commandID, UInt32 attributes, OpaqueEventTargetRef* target);
void RemoveAllHandlers(OpaqueEventTargetRef* target);
void RetainClass(OpaqueToolboxObjectClassRef* objectClass);
void ReleaseClass(OpaqueToolboxObjectClassRef* objectClass);
OpaqueToolboxObjectClassRef* FindClass(const std::string& classID);

// Controls (Controls.cpp)
bool MakeControls(OpaqueWindowPtr* window);
void DisposeControls(OpaqueWindowPtr* window);
void DrawCustomControl(OpaqueControlRef* control);
void PortPixelsChanged(OpaqueWindowPtr* window, const Rect& changed);
void LayOut(OpaqueWindowPtr* window);
OpaqueControlRef* ControlWithCommand(OpaqueWindowPtr* window, UInt32 command);
Rect ControlBounds(OpaqueControlRef* control);
// Opaque pixels from rows of A, R, G, B bytes, `area` in their coordinates.
QImage ImageOfPixels(const UInt8* base, SInt32 rowBytes, const QRect& area);

// Windows (Windows.cpp)
OpaqueWindowPtr* WindowOfPort(GrafPtr port);
OpaqueWindowPtr* InnermostModalWindow();

// Mouse tracking (Controls.cpp)
bool TrackingWidget(QWidget* widget);

// Text and keys (Application.cpp)
QString FromMacRoman(const unsigned char* bytes, size_t count);
std::string ToMacRoman(const QString& text);
QString FromCFString(CFStringRef text);
CFStringRef ToCFString(const QString& text);
QString FromPascal(ConstStr255Param text);
void ToPascal(const QString& text, Str255 out);
UInt32 MacModifiers(Qt::KeyboardModifiers modifiers);
void NoteModifiers(Qt::KeyboardModifiers modifiers);

}  // namespace tbui
