// Controls on Qt widgets, custom controls of toolbox object classes, and
// mouse tracking.
#include "Controls.h"

#include "Appearance.h"
#include "Menus.h"
#include "ToolboxUI.h"
#include "UIPrivate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>

namespace {

SInt16 Clamp16(SInt32 value)
{
    return SInt16(std::clamp<SInt32>(value, -32768, 32767));
}

// ---- Mouse tracking ----

struct TrackReport {
    Point where;
    bool up;
    bool cancelled = false;
};

struct Tracker {
    QPointer<QWidget> widget;
    OpaqueWindowPtr* window = nullptr;
    std::deque<TrackReport> reports;
    QEventLoop* waiting = nullptr;
    bool active = false;
};

Tracker& TheTracker()
{
    static Tracker tracker;
    return tracker;
}

Point WindowPoint(OpaqueControlRef* control, const QPoint& local)
{
    const QPoint at = control->widget->mapTo(control->window->widget.data(), local);
    return Point{Clamp16(at.y()), Clamp16(at.x())};
}

void Report(const TrackReport& report)
{
    Tracker& tracker = TheTracker();
    tracker.reports.push_back(report);
    if (tracker.waiting != nullptr) tracker.waiting->exit(0);
}

// Escape ends a mouse drag as cancelled wherever the keyboard focus is, and
// goes no further: the window must not take it as its Cancel button.
class EscapeCancelsTracking : public QObject {
public:
    EscapeCancelsTracking() { QCoreApplication::instance()->installEventFilter(this); }
    ~EscapeCancelsTracking() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || !TheTracker().active) return false;
        if (event->type() == QEvent::KeyPress) {
            Point where{0, 0};
            GetMouse(&where);
            Report({where, false, true});
        }
        event->accept();
        return true;
    }
};

// Escape while a slider's thumb is held ends the drag with the thumb back
// where the press found it, and goes no further: the window must not take
// it as its Cancel button. Lives while the thumb is held.
class EscapeRestoresSlider : public QObject {
public:
    explicit EscapeRestoresSlider(QAbstractSlider* slider) : QObject(slider), slider_(slider), start_(slider->value())
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~EscapeRestoresSlider() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape || !slider_->isSliderDown()) return false;
        event->accept();
        if (event->type() == QEvent::KeyPress) {
            QAbstractSlider* slider = slider_;
            slider->setValue(start_);
            // The release ends the slider's own drag, so that the mouse moves it
            // no further; the end of the drag deletes this filter.
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(slider, &release);
            slider->setSliderDown(false);
        }
        return true;
    }

private:
    QAbstractSlider* slider_;
    int start_;
};

// ---- Event helpers ----

EventRef ControlEvent(OpaqueControlRef* control, UInt32 kind)
{
    EventRef event = tbui::NewEvent(kEventClassControl, kind);
    ControlRef ref = control;
    SetEventParameter(event, kEventParamDirectObject, typeControlRef, sizeof ref, &ref);
    return event;
}

ControlPartCode SendHitTest(OpaqueControlRef* control, Point where)
{
    EventRef event = ControlEvent(control, kEventControlHitTest);
    SetEventParameter(event, kEventParamMouseLocation, typeQDPoint, sizeof where, &where);
    ControlPartCode part = kControlNoPart;
    if (SendEventToEventTarget(event, &control->target) == noErr)
        GetEventParameter(event, kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    ReleaseEvent(event);
    return part;
}

void SendHit(OpaqueControlRef* control, ControlPartCode part, UInt32 modifiers)
{
    EventRef event = ControlEvent(control, kEventControlHit);
    SetEventParameter(event, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    SetEventParameter(event, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    SendEventToEventTarget(event, &control->target);
    ReleaseEvent(event);
}

void SendPlain(OpaqueControlRef* control, UInt32 kind)
{
    EventRef event = ControlEvent(control, kind);
    SendEventToEventTarget(event, &control->target);
    ReleaseEvent(event);
}

// The standard handling: a hit sends the control's command.
OSStatus StandardControlHandler(EventHandlerCallRef, EventRef event, void* owner)
{
    auto* control = static_cast<OpaqueControlRef*>(owner);
    if (GetEventClass(event) == kEventClassControl && GetEventKind(event) == kEventControlHit &&
        control->command != 0)
        return tbui::SendCommand(control->command, kHICommandFromControl, &control->target);
    return eventNotHandledErr;
}

bool DrawnByToolbox(OpaqueControlRef* control)
{
    return control->kind == ControlKind::Custom;
}

void Redraw(OpaqueControlRef* control)
{
    if (control->widget == nullptr) return;
    if (DrawnByToolbox(control)) {
        control->needsDraw = true;
        if (control->widget->isVisible()) tbui::DrawCustomControl(control);
    } else {
        control->widget->update();
    }
}

// The standard tracking of a custom control without its own: the hilite
// follows the part under the mouse until the button is released.
ControlPartCode DefaultTrack(OpaqueControlRef* control, ControlPartCode part)
{
    control->hilite = part;
    Redraw(control);
    ControlPartCode current = part;
    for (;;) {
        Point where;
        MouseTrackingResult result = 0;
        TrackMouseLocation(nullptr, &where, &result);
        if (!tbui::LiveControl(control)) return kControlNoPart;
        current = SendHitTest(control, where);
        if (current != control->hilite) {
            control->hilite = current;
            Redraw(control);
        }
        if (result == kMouseTrackingUserCancelled) current = kControlNoPart;
        if (result == kMouseTrackingMouseUp || result == kMouseTrackingUserCancelled) break;
        if (control->action != nullptr && current != kControlNoPart) control->action(control, current);
        if (!tbui::LiveControl(control)) return kControlNoPart;
    }
    control->hilite = 0;
    Redraw(control);
    return current;
}

void Click(OpaqueControlRef* control, QMouseEvent* press)
{
    const Point where = WindowPoint(control, press->position().toPoint());
    const UInt32 modifiers = tbui::MacModifiers(press->modifiers());
    ControlPartCode part = SendHitTest(control, where);
    if (part == kControlNoPart || !tbui::LiveControl(control)) return;

    Tracker& tracker = TheTracker();
    tracker.widget = control->widget;
    tracker.window = control->window;
    tracker.reports.clear();
    tracker.active = true;
    const EscapeCancelsTracking escape;

    EventRef track = ControlEvent(control, kEventControlTrack);
    SetEventParameter(track, kEventParamMouseLocation, typeQDPoint, sizeof where, &where);
    SetEventParameter(track, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    const OSStatus result = SendEventToEventTarget(track, &control->target);
    if (result == noErr) {
        GetEventParameter(track, kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr,
                          &part);
    } else if (tbui::LiveControl(control)) {
        part = DefaultTrack(control, part);
    }
    ReleaseEvent(track);
    tracker.active = false;
    tracker.reports.clear();
    tracker.widget = nullptr;
    if (tbui::LiveControl(control) && part != kControlNoPart) SendHit(control, part, modifiers);
}

// The widget whose control is choosing its cursor.
QPointer<QWidget> gCursorWidget;

// Paint, mouse and key events of a custom control's widget.
class CustomView : public QObject {
public:
    CustomView(OpaqueControlRef* control, QObject* parent) : QObject(parent), control_(control) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!tbui::LiveControl(control_) || watched != control_->widget) return false;
        switch (event->type()) {
        case QEvent::Paint:
            Paint(static_cast<QPaintEvent*>(event));
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && !TheTracker().active) Click(control_, mouse);
            return true;
        }
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (tbui::TrackingWidget(control_->widget)) {
                const bool up = event->type() == QEvent::MouseButtonRelease;
                if (up || (mouse->buttons() & Qt::LeftButton))
                    Report({WindowPoint(control_, mouse->position().toPoint()), up});
            } else if (mouse->buttons() == Qt::NoButton) {
                AskForCursor(mouse);
            }
            return true;
        }
        case QEvent::KeyPress:
            return KeyPressed(static_cast<QKeyEvent*>(event));
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            control_->widget->update();
            return false;
        case QEvent::Show:
        case QEvent::Resize:
        case QEvent::Move:
            control_->needsDraw = true;
            return false;
        default:
            return false;
        }
    }

private:
    void Paint(QPaintEvent* event)
    {
        QImage& backing = control_->backing;
        if (!backing.isNull() && (backing.devicePixelRatio() != control_->widget->devicePixelRatioF() ||
                                  backing.deviceIndependentSize() != QSizeF(control_->widget->size()))) {
            // Another screen or size: the control draws itself for it again.
            backing = QImage();
            control_->needsDraw = true;
        }
        if (control_->needsDraw) tbui::DrawCustomControl(control_);
        if (!tbui::LiveControl(control_)) return;
        OpaqueWindowPtr* window = control_->window;
        GrafPtr port = window->port;
        const QPoint origin = control_->widget->mapTo(window->widget.data(), QPoint(0, 0));
        const QRect wanted = event->rect().translated(origin).intersected(
            QRect(0, 0, port->pixelsWide, port->pixelsHigh));
        if (wanted.isEmpty()) return;
        QPainter painter(control_->widget);
        painter.drawImage(wanted.topLeft() - origin,
                          tbui::ImageOfPixels(reinterpret_cast<const UInt8*>(window->pixels.get()),
                                              window->rowBytes, wanted));
        if (!backing.isNull()) {
            painter.setClipRect(wanted.translated(-origin));
            painter.drawImage(QPointF(0, 0), backing);
            painter.setClipping(false);
        }
        // The toolbox draws the keyboard focus over what the control drew: the
        // highlight colour inside a dark and a light line, so that the ring
        // shows on whatever colour the control has.
        if (control_->widget->hasFocus()) {
            const QRectF ring = QRectF(control_->widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Qt::black, 1));
            painter.drawRect(ring);
            painter.setPen(QPen(Qt::white, 1));
            painter.drawRect(ring.adjusted(1, 1, -1, -1));
            painter.setPen(QPen(control_->widget->palette().color(QPalette::Highlight), 2));
            painter.drawRect(ring.adjusted(2.5, 2.5, -2.5, -2.5));
        }
    }

    // Space or Return on a focused clickable control clicks its middle.
    bool KeyPressed(QKeyEvent* key)
    {
        const int code = key->key();
        if (control_->command == 0 || (key->modifiers() & ~Qt::KeypadModifier) ||
            (code != Qt::Key_Space && code != Qt::Key_Return && code != Qt::Key_Enter))
            return false;
        const Point middle = WindowPoint(control_, control_->widget->rect().center());
        const ControlPartCode part = SendHitTest(control_, middle);
        if (part != kControlNoPart && tbui::LiveControl(control_))
            SendHit(control_, part, GetCurrentKeyModifiers());
        return true;
    }

    void AskForCursor(QMouseEvent* mouse)
    {
        const Point where = WindowPoint(control_, mouse->position().toPoint());
        const UInt32 modifiers = tbui::MacModifiers(mouse->modifiers());
        EventRef event = ControlEvent(control_, kEventControlSetCursor);
        SetEventParameter(event, kEventParamMouseLocation, typeQDPoint, sizeof where, &where);
        SetEventParameter(event, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
        QPointer<QWidget> widget = control_->widget;
        gCursorWidget = widget;
        const OSStatus result = SendEventToEventTarget(event, &control_->target);
        ReleaseEvent(event);
        gCursorWidget = nullptr;
        if (result != noErr && widget != nullptr) widget->unsetCursor();
    }

    OpaqueControlRef* control_;
};

ControlKind KindOf(QWidget* widget)
{
    if (qobject_cast<QAbstractSlider*>(widget)) return ControlKind::Slider;
    if (qobject_cast<QSpinBox*>(widget)) return ControlKind::SpinBox;
    if (qobject_cast<QProgressBar*>(widget)) return ControlKind::Progress;
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->isCheckable() && !qobject_cast<QPushButton*>(widget) ? ControlKind::CheckBox
                                                                           : ControlKind::PushButton;
    if (qobject_cast<QComboBox*>(widget)) return ControlKind::Popup;
    if (qobject_cast<QLabel*>(widget)) return ControlKind::StaticText;
    if (qobject_cast<QLineEdit*>(widget)) return ControlKind::EditText;
    if (qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QTextEdit*>(widget)) return ControlKind::TextArea;
    if (qobject_cast<QGroupBox*>(widget)) return ControlKind::GroupBox;
    return ControlKind::Other;
}

OSType FourChars(const QVariant& property)
{
    const QByteArray bytes = tbui::ToMacRoman(property.toString()).c_str();
    if (bytes.isEmpty()) return 0;
    OSType code = 0;
    for (int i = 0; i < 4; ++i)
        code = (code << 8) | (i < bytes.size() ? UInt8(bytes[i]) : UInt8(' '));
    return code;
}

SInt32 IntProperty(QWidget* widget, const char* name, SInt32 fallback)
{
    const QVariant value = widget->property(name);
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return value.isValid() && ok ? SInt32(std::clamp<qlonglong>(number, INT_MIN, INT_MAX)) : fallback;
}

// A popup button changes only when an item of its open menu is chosen: the
// wheel, arrow keys and typing over the closed button do nothing.
class ClosedPopupGuard : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel) return true;
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            return mods != Qt::AltModifier;  // Alt with an arrow opens the menu
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            // Typing would pick the item that starts with the letter.
            return (mods & ~Qt::ShiftModifier) == 0 && !key->text().isEmpty() && key->text() != QLatin1String(" ") &&
                   key->text().at(0).isPrint();
        }
    }
};

void Connect(OpaqueControlRef* control)
{
    QWidget* widget = control->widget;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const ControlPartCode part =
            control->kind == ControlKind::CheckBox ? kControlCheckBoxPart : kControlButtonPart;
        QObject::connect(button, &QAbstractButton::clicked, button, [control, part] {
            if (tbui::LiveControl(control)) SendHit(control, part, GetCurrentKeyModifiers());
        });
    } else if (auto* popup = qobject_cast<QComboBox*>(widget)) {
        popup->installEventFilter(new ClosedPopupGuard(popup));
        QObject::connect(popup, &QComboBox::activated, popup, [control] {
            if (tbui::LiveControl(control)) SendHit(control, kControlMenuPart, GetCurrentKeyModifiers());
        });
    } else if (auto* field = qobject_cast<QSpinBox*>(widget)) {
        // A number typed (or stepped) into the field is a hit, as a click is.
        QObject::connect(field, &QSpinBox::valueChanged, field, [control] {
            if (tbui::LiveControl(control) && control->settingFromCode == 0)
                SendHit(control, kControlIndicatorPart, GetCurrentKeyModifiers());
        });
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
        QObject::connect(slider, &QAbstractSlider::valueChanged, slider, [control, slider] {
            if (!tbui::LiveControl(control) || control->settingFromCode > 0) return;
            const bool dragging = slider->isSliderDown();
            if (control->action != nullptr) control->action(control, kControlIndicatorPart);
            if (!dragging && tbui::LiveControl(control))
                SendHit(control, kControlIndicatorPart, GetCurrentKeyModifiers());
        });
        QObject::connect(slider, &QAbstractSlider::sliderPressed, slider, [slider] {
            if (slider->findChild<EscapeRestoresSlider*>() == nullptr) new EscapeRestoresSlider(slider);
        });
        QObject::connect(slider, &QAbstractSlider::sliderReleased, slider, [control, slider] {
            delete slider->findChild<EscapeRestoresSlider*>();
            if (tbui::LiveControl(control))
                SendHit(control, kControlIndicatorPart, GetCurrentKeyModifiers());
        });
    }
}

OpaqueControlRef* MakeControl(OpaqueWindowPtr* window, QWidget* widget, OpaqueToolboxObjectClassRef* objectClass)
{
    auto* control = TBNew<OpaqueControlRef>();
    if (control == nullptr) return nullptr;
    control->kind = objectClass != nullptr ? ControlKind::Custom : KindOf(widget);
    if (control->kind == ControlKind::Popup) {
        control->menu.reset(TBNew<OpaqueMenuRef>());
        if (control->menu == nullptr) {
            delete control;
            return nullptr;
        }
        control->menu->magic = kMenuMagic;
        control->menu->control = control;
    }
    control->magic = kControlMagic;
    control->window = window;
    control->widget = widget;
    control->id = ControlID{FourChars(widget->property("controlSignature")),
                            IntProperty(widget, "controlID", 0)};
    control->command = FourChars(widget->property("commandID"));
    control->target.parent = &window->target;
    control->target.objectClass = objectClass;
    control->target.standard = StandardControlHandler;
    control->target.owner = control;
    if (objectClass != nullptr) {
        tbui::RetainClass(objectClass);
        control->minimum = IntProperty(widget, "controlMinimum", 0);
        control->maximum = std::max(control->minimum, IntProperty(widget, "controlMaximum", INT_MAX));
        control->value = std::clamp(IntProperty(widget, "controlValue", 0), control->minimum, control->maximum);
        widget->setAttribute(Qt::WA_OpaquePaintEvent);
        // A control that sends a command is clicked from the keyboard too.
        if (control->command != 0) widget->setFocusPolicy(Qt::StrongFocus);
        widget->setMouseTracking(std::any_of(objectClass->types.begin(), objectClass->types.end(),
                                             [](const EventTypeSpec& type) {
                                                 return type.eventClass == kEventClassControl &&
                                                        type.eventKind == kEventControlSetCursor;
                                             }));
        control->filter = new CustomView(control, widget);
        widget->installEventFilter(control->filter);
    } else if (control->kind == ControlKind::CheckBox) {
        control->maximum = 1;
    }
    Connect(control);
    return control;
}

OpaqueControlRef* Alive(ControlRef control)
{
    return tbui::LiveControl(control) && control->widget != nullptr ? control : nullptr;
}

QString WidgetText(OpaqueControlRef* control)
{
    QWidget* widget = control->widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* area = qobject_cast<QPlainTextEdit*>(widget)) return area->toPlainText();
    if (auto* rich = qobject_cast<QTextEdit*>(widget)) return rich->toPlainText();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* popup = qobject_cast<QComboBox*>(widget)) return popup->currentText();
    return control->text;
}

void SetWidgetText(OpaqueControlRef* control, const QString& text)
{
    QWidget* widget = control->widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* area = qobject_cast<QPlainTextEdit*>(widget)) {
        area->setPlainText(text);
    } else if (auto* rich = qobject_cast<QTextEdit*>(widget)) {
        rich->setPlainText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(text);
    } else {
        control->text = text;
    }
}

}  // namespace

namespace tbui {

bool LiveControl(ControlRef control)
{
    if (control == nullptr) return false;
    for (WindowRef window : AllWindows()) {
        if (std::find(window->controls.begin(), window->controls.end(), control) != window->controls.end())
            return control->magic == kControlMagic;
    }
    return false;
}

bool LiveMenu(MenuRef menu)
{
    if (menu == nullptr) return false;
    for (WindowRef window : AllWindows()) {
        for (OpaqueControlRef* control : window->controls) {
            if (control->menu.get() == menu) return true;
        }
    }
    return false;
}

bool TrackingWidget(QWidget* widget)
{
    const Tracker& tracker = TheTracker();
    return tracker.active && tracker.widget == widget;
}

// False when memory runs out; the controls made so far stay with the window,
// initialised, so that disposing of it pairs every initialise with a dispose.
bool MakeControls(OpaqueWindowPtr* window)
{
    QList<QWidget*> widgets = window->widget->findChildren<QWidget*>();
    widgets.prepend(window->widget.data());
    try {
        window->controls.reserve(size_t(widgets.size()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    bool whole = true;
    for (QWidget* widget : widgets) {
        const QVariant className = widget->property("toolboxClass");
        OpaqueToolboxObjectClassRef* objectClass = nullptr;
        if (className.isValid()) {
            objectClass = FindClass(className.toString().toStdString());
            if (objectClass == nullptr) continue;  // an unknown class makes no control
        } else if (!widget->property("controlSignature").isValid() &&
                   !widget->property("commandID").isValid()) {
            continue;
        }
        OpaqueControlRef* control = MakeControl(window, widget, objectClass);
        if (control == nullptr) {
            whole = false;
            break;
        }
        window->controls.push_back(control);  // reserved above
    }
    for (OpaqueControlRef* control : window->controls) {
        if (control->kind == ControlKind::Custom) SendPlain(control, kEventControlInitialize);
    }
    return whole;
}

void DisposeControls(OpaqueWindowPtr* window)
{
    for (OpaqueControlRef* control : window->controls) {
        if (control->kind == ControlKind::Custom) SendPlain(control, kEventControlDispose);
    }
    Tracker& tracker = TheTracker();
    if (tracker.window == window) {
        tracker.active = false;
        if (tracker.waiting != nullptr) tracker.waiting->exit(0);
    }
    std::vector<OpaqueControlRef*> controls;
    controls.swap(window->controls);
    for (OpaqueControlRef* control : controls) {
        if (control->widget != nullptr) {
            if (control->filter != nullptr) control->widget->removeEventFilter(control->filter);
            control->widget->disconnect();
        }
        RemoveAllHandlers(&control->target);
        if (control->menu) RemoveAllHandlers(&control->menu->target);
        ReleaseClass(control->target.objectClass);
        control->magic = 0;
        delete control;
    }
}

void DrawCustomControl(OpaqueControlRef* control)
{
    if (control->painting) return;
    control->needsDraw = false;
    control->painting = true;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(control->window->port, nullptr);
    EventRef event = ControlEvent(control, kEventControlDraw);
    GrafPtr port = control->window->port;
    SetEventParameter(event, kEventParamGrafPort, typeGrafPtr, sizeof port, &port);
    SendEventToEventTarget(event, &control->target);
    ReleaseEvent(event);
    if (LiveControl(control)) control->painting = false;
    SetGWorld(savedPort, savedDevice);
}

void PortPixelsChanged(OpaqueWindowPtr* window, const Rect& changed)
{
    const QRect area(changed.left, changed.top, changed.right - changed.left, changed.bottom - changed.top);
    for (OpaqueControlRef* control : window->controls) {
        if (control->kind != ControlKind::Custom || control->widget == nullptr) continue;
        const QPoint origin = control->widget->mapTo(window->widget.data(), QPoint(0, 0));
        const QRect local = area.translated(-origin).intersected(control->widget->rect());
        if (!local.isEmpty()) control->widget->update(local);
    }
}

OpaqueControlRef* ControlWithCommand(OpaqueWindowPtr* window, UInt32 command)
{
    for (OpaqueControlRef* control : window->controls) {
        if (control->command == command && control->widget != nullptr && control->widget->isVisible())
            return control;
    }
    return nullptr;
}

Rect ControlBounds(OpaqueControlRef* control)
{
    LayOut(control->window);
    const QPoint origin = control->widget->mapTo(control->window->widget.data(), QPoint(0, 0));
    const QSize size = control->widget->size();
    return Rect{Clamp16(origin.y()), Clamp16(origin.x()), Clamp16(origin.y() + size.height()),
                Clamp16(origin.x() + size.width())};
}

QImage ImageOfPixels(const UInt8* base, SInt32 rowBytes, const QRect& area)
{
    QImage image(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        const UInt8* src = base + size_t(area.top() + y) * size_t(rowBytes) + size_t(area.left()) * 4;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < area.width(); ++x, src += 4)
            dst[x] = 0xFF000000u | (QRgb(src[1]) << 16) | (QRgb(src[2]) << 8) | QRgb(src[3]);
    }
    return image;
}

}  // namespace tbui

OSStatus TrackMouseLocation(GrafPtr inPort, Point* outPt, MouseTrackingResult* outResult)
{
    Tracker& tracker = TheTracker();
    while (tracker.active && tracker.reports.empty() && tracker.widget != nullptr) {
        QEventLoop loop;
        tracker.waiting = &loop;
        loop.exec();
        tracker.waiting = nullptr;
    }
    TrackReport report{{0, 0}, true};
    if (!tracker.reports.empty()) {
        report = tracker.reports.front();
        tracker.reports.pop_front();
    } else {
        GetMouse(&report.where);
    }
    if (tracker.active && (report.up || report.cancelled)) tracker.active = false;
    if (inPort != nullptr) {
        OpaqueWindowPtr* portWindow = tbui::WindowOfPort(inPort);
        if (portWindow != nullptr && tbui::LiveWindow(tracker.window) && portWindow != tracker.window &&
            portWindow->widget != nullptr && tracker.window->widget != nullptr) {
            const QPoint global = tracker.window->widget->mapToGlobal(QPoint(report.where.h, report.where.v));
            const QPoint local = portWindow->widget->mapFromGlobal(global);
            report.where = Point{Clamp16(local.y()), Clamp16(local.x())};
        }
    }
    if (outPt != nullptr) *outPt = report.where;
    if (outResult != nullptr)
        *outResult = report.cancelled ? kMouseTrackingUserCancelled
                     : report.up      ? kMouseTrackingMouseUp
                                      : kMouseTrackingMouseDragged;
    return noErr;
}

namespace {

QWidget* CurrentPortWidget()
{
    CGrafPtr port = nullptr;
    GetPort(&port);
    OpaqueWindowPtr* window = tbui::WindowOfPort(port);
    return window != nullptr ? window->widget.data() : nullptr;
}

}  // namespace

void GlobalToLocal(Point* pt)
{
    QWidget* widget = CurrentPortWidget();
    if (pt == nullptr || widget == nullptr) return;
    const QPoint local = widget->mapFromGlobal(QPoint(pt->h, pt->v));
    *pt = Point{Clamp16(local.y()), Clamp16(local.x())};
}

void GetMouse(Point* mouseLoc)
{
    if (mouseLoc == nullptr) return;
    const QPoint global = QCursor::pos();
    *mouseLoc = Point{Clamp16(global.y()), Clamp16(global.x())};
    GlobalToLocal(mouseLoc);
}

// ---- The Control Manager ----

OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl)
{
    if (outControl != nullptr) *outControl = nullptr;
    if (!tbui::LiveWindow(inWindow)) return errInvalidWindowRef;
    if (inID == nullptr || outControl == nullptr) return paramErr;
    for (OpaqueControlRef* control : inWindow->controls) {
        if (control->id.signature == inID->signature && control->id.id == inID->id &&
            control->widget != nullptr) {
            *outControl = control;
            return noErr;
        }
    }
    return errUnknownControl;
}

OSStatus GetControlID(ControlRef inControl, ControlID* outID)
{
    if (outID == nullptr) return paramErr;
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return errUnknownControl;
    *outID = control->id;
    return noErr;
}

WindowRef GetControlOwner(ControlRef inControl)
{
    return Alive(inControl) != nullptr ? inControl->window : nullptr;
}

SInt32 GetControl32BitValue(ControlRef theControl)
{
    OpaqueControlRef* control = Alive(theControl);
    if (control == nullptr) return 0;
    QWidget* widget = control->widget;
    switch (control->kind) {
    case ControlKind::Slider:
        return static_cast<QAbstractSlider*>(widget)->value();
    case ControlKind::SpinBox:
        return static_cast<QSpinBox*>(widget)->value();
    case ControlKind::Progress:
        return static_cast<QProgressBar*>(widget)->value();
    case ControlKind::CheckBox: {
        if (auto* box = qobject_cast<QCheckBox*>(widget); box != nullptr && box->checkState() == Qt::PartiallyChecked)
            return 2;
        return static_cast<QAbstractButton*>(widget)->isChecked() ? 1 : 0;
    }
    case ControlKind::Popup: {
        const int index = static_cast<QComboBox*>(widget)->currentIndex();
        return index >= 0 ? index + 1 : control->value;
    }
    default:
        return control->value;
    }
}

void SetControl32BitValue(ControlRef theControl, SInt32 newValue)
{
    OpaqueControlRef* control = Alive(theControl);
    if (control == nullptr) return;
    QWidget* widget = control->widget;
    ++control->settingFromCode;
    switch (control->kind) {
    case ControlKind::Slider:
        static_cast<QAbstractSlider*>(widget)->setValue(newValue);
        break;
    case ControlKind::SpinBox:
        static_cast<QSpinBox*>(widget)->setValue(newValue);
        break;
    case ControlKind::Progress:
        static_cast<QProgressBar*>(widget)->setValue(newValue);
        break;
    case ControlKind::CheckBox:
        if (auto* box = qobject_cast<QCheckBox*>(widget); box != nullptr && newValue == 2) {
            box->setTristate(true);
            box->setCheckState(Qt::PartiallyChecked);
        } else {
            static_cast<QAbstractButton*>(widget)->setChecked(newValue != 0);
        }
        break;
    case ControlKind::Popup: {
        auto* popup = static_cast<QComboBox*>(widget);
        control->value = newValue;
        if (newValue >= 1 && newValue <= popup->count()) popup->setCurrentIndex(newValue - 1);
        break;
    }
    default: {
        const SInt32 clamped = std::clamp(newValue, control->minimum, std::max(control->minimum, control->maximum));
        const bool changed = clamped != control->value;
        control->value = clamped;
        if (changed && control->kind == ControlKind::Custom) Redraw(control);
        break;
    }
    }
    if (tbui::LiveControl(control)) --control->settingFromCode;
}

SInt32 GetControl32BitMinimum(ControlRef theControl)
{
    OpaqueControlRef* control = Alive(theControl);
    if (control == nullptr) return 0;
    switch (control->kind) {
    case ControlKind::Slider:
        return static_cast<QAbstractSlider*>(control->widget.data())->minimum();
    case ControlKind::SpinBox:
        return static_cast<QSpinBox*>(control->widget.data())->minimum();
    case ControlKind::Progress:
        return static_cast<QProgressBar*>(control->widget.data())->minimum();
    case ControlKind::Popup:
        return 1;
    default:
        return control->minimum;
    }
}

SInt32 GetControl32BitMaximum(ControlRef theControl)
{
    OpaqueControlRef* control = Alive(theControl);
    if (control == nullptr) return 0;
    switch (control->kind) {
    case ControlKind::Slider:
        return static_cast<QAbstractSlider*>(control->widget.data())->maximum();
    case ControlKind::SpinBox:
        return static_cast<QSpinBox*>(control->widget.data())->maximum();
    case ControlKind::Progress:
        return static_cast<QProgressBar*>(control->widget.data())->maximum();
    case ControlKind::Popup:
        return static_cast<QComboBox*>(control->widget.data())->count();
    case ControlKind::CheckBox: {
        auto* box = qobject_cast<QCheckBox*>(control->widget.data());
        return box != nullptr && box->isTristate() ? 2 : 1;
    }
    default:
        return control->maximum;
    }
}

namespace {

void SetRange(OpaqueControlRef* control, SInt32 minimum, SInt32 maximum)
{
    ++control->settingFromCode;
    QWidget* widget = control->widget;
    switch (control->kind) {
    case ControlKind::Slider:
        static_cast<QAbstractSlider*>(widget)->setRange(minimum, std::max(minimum, maximum));
        break;
    case ControlKind::SpinBox:
        static_cast<QSpinBox*>(widget)->setRange(minimum, std::max(minimum, maximum));
        break;
    case ControlKind::Progress:
        static_cast<QProgressBar*>(widget)->setRange(minimum, std::max(minimum, maximum));
        break;
    case ControlKind::Popup:
    case ControlKind::CheckBox:
        break;
    default: {
        control->minimum = minimum;
        control->maximum = std::max(minimum, maximum);
        const SInt32 clamped = std::clamp(control->value, control->minimum, control->maximum);
        if (clamped != control->value) {
            control->value = clamped;
            if (control->kind == ControlKind::Custom) Redraw(control);
        }
        break;
    }
    }
    if (tbui::LiveControl(control)) --control->settingFromCode;
}

}  // namespace

void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum)
{
    if (OpaqueControlRef* control = Alive(theControl))
        SetRange(control, newMinimum, std::max(newMinimum, GetControl32BitMaximum(control)));
}

void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum)
{
    if (OpaqueControlRef* control = Alive(theControl))
        SetRange(control, std::min(newMaximum, GetControl32BitMinimum(control)), newMaximum);
}

OSErr SetControlData(ControlRef inControl, ControlPartCode, ResType inTagName, Size inSize,
                     const void* inData)
{
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return errUnknownControl;
    if (inSize < 0 || (inData == nullptr && inSize > 0)) return paramErr;
    if (inTagName == kControlEditTextTextTag) {
        SetWidgetText(control, tbui::FromMacRoman(static_cast<const unsigned char*>(inData), size_t(inSize)));
        return noErr;
    }
    if (inTagName == kControlEditTextCFStringTag) {
        if (inSize != Size(sizeof(CFStringRef))) return paramErr;
        CFStringRef text = nullptr;
        std::memcpy(&text, inData, sizeof text);
        SetWidgetText(control, tbui::FromCFString(text));
        return noErr;
    }
    if (inTagName == kControlEditTextSelectionTag) {
        if (inSize != Size(sizeof(ControlEditTextSelectionRec))) return paramErr;
        ControlEditTextSelectionRec selection;
        std::memcpy(&selection, inData, sizeof selection);
        auto* edit = qobject_cast<QLineEdit*>(control->widget.data());
        if (edit == nullptr) return errDataNotSupported;
        const int length = int(edit->text().size());
        const int start = std::clamp<int>(selection.selStart, 0, length);
        const int end = std::clamp<int>(selection.selEnd, start, length);
        edit->setSelection(start, end - start);
        return noErr;
    }
    return errDataNotSupported;
}

OSErr GetControlData(ControlRef inControl, ControlPartCode, ResType inTagName, Size inBufferSize,
                     void* inBuffer, Size* outActualSize)
{
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return errUnknownControl;
    if (inBufferSize < 0 || (inBuffer == nullptr && inBufferSize > 0)) return paramErr;
    if (inTagName == kControlEditTextTextTag) {
        const std::string bytes = tbui::ToMacRoman(WidgetText(control));
        if (outActualSize != nullptr) *outActualSize = Size(bytes.size());
        std::memcpy(inBuffer, bytes.data(), std::min<size_t>(bytes.size(), size_t(inBufferSize)));
        return noErr;
    }
    if (inTagName == kControlEditTextCFStringTag) {
        if (outActualSize != nullptr) *outActualSize = sizeof(CFStringRef);
        if (inBufferSize < Size(sizeof(CFStringRef))) return paramErr;
        CFStringRef text = tbui::ToCFString(WidgetText(control));
        std::memcpy(inBuffer, &text, sizeof text);
        return noErr;
    }
    if (inTagName == kControlEditTextSelectionTag) {
        auto* edit = qobject_cast<QLineEdit*>(control->widget.data());
        if (edit == nullptr) return errDataNotSupported;
        if (outActualSize != nullptr) *outActualSize = sizeof(ControlEditTextSelectionRec);
        if (inBufferSize < Size(sizeof(ControlEditTextSelectionRec))) return paramErr;
        ControlEditTextSelectionRec selection{Clamp16(edit->cursorPosition()), Clamp16(edit->cursorPosition())};
        if (edit->hasSelectedText()) {
            selection.selStart = Clamp16(edit->selectionStart());
            selection.selEnd = Clamp16(edit->selectionStart() + int(edit->selectedText().size()));
        }
        std::memcpy(inBuffer, &selection, sizeof selection);
        return noErr;
    }
    return errDataNotSupported;
}

void ShowControl(ControlRef inControl)
{
    if (OpaqueControlRef* control = Alive(inControl)) control->widget->setVisible(true);
}

void HideControl(ControlRef inControl)
{
    if (OpaqueControlRef* control = Alive(inControl)) control->widget->setVisible(false);
}

OSErr EnableControl(ControlRef inControl)
{
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return errUnknownControl;
    control->widget->setEnabled(true);
    if (control->kind == ControlKind::Custom) Redraw(control);
    return noErr;
}

OSErr DisableControl(ControlRef inControl)
{
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return errUnknownControl;
    control->widget->setEnabled(false);
    if (control->kind == ControlKind::Custom) Redraw(control);
    return noErr;
}

ControlPartCode GetControlHilite(ControlRef inControl)
{
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr) return kControlNoPart;
    if (!control->widget->isEnabled()) return kControlDisabledPart;
    if (!control->active) return kControlInactivePart;
    return control->hilite;
}

void Draw1Control(ControlRef theControl)
{
    if (OpaqueControlRef* control = Alive(theControl)) Redraw(control);
}

Rect* GetControlBounds(ControlRef control, Rect* bounds)
{
    if (bounds == nullptr) return nullptr;
    *bounds = Rect{0, 0, 0, 0};
    if (OpaqueControlRef* live = Alive(control)) *bounds = tbui::ControlBounds(live);
    return bounds;
}

OSErr SetKeyboardFocus(WindowRef inWindow, ControlRef inControl, ControlFocusPart inPart)
{
    if (!tbui::LiveWindow(inWindow)) return errInvalidWindowRef;
    if (inControl == nullptr || inPart == kControlFocusNoPart) {
        if (QWidget* focus = inWindow->widget->focusWidget()) focus->clearFocus();
        return noErr;
    }
    OpaqueControlRef* control = Alive(inControl);
    if (control == nullptr || control->window != inWindow) return errUnknownControl;
    control->widget->setFocus(Qt::OtherFocusReason);
    return noErr;
}

void SetControlAction(ControlRef theControl, ControlActionUPP actionProc)
{
    if (OpaqueControlRef* control = Alive(theControl)) control->action = actionProc;
}

MenuRef GetControlPopupMenuHandle(ControlRef control)
{
    OpaqueControlRef* live = Alive(control);
    return live != nullptr ? live->menu.get() : nullptr;
}

// ---- Menus of popup buttons ----

namespace {

QComboBox* PopupOf(MenuRef menu)
{
    if (!tbui::LiveMenu(menu) || menu->control->widget == nullptr) return nullptr;
    return qobject_cast<QComboBox*>(menu->control->widget.data());
}

}  // namespace

void GetMenuItemText(MenuRef theMenu, MenuItemIndex item, Str255 itemString)
{
    if (itemString == nullptr) return;
    itemString[0] = 0;
    QComboBox* popup = PopupOf(theMenu);
    if (popup != nullptr && item >= 1 && item <= popup->count())
        tbui::ToPascal(popup->itemText(item - 1), itemString);
}

QWidget* TBGetControlWidget(ControlRef control)
{
    return Alive(control) != nullptr ? control->widget.data() : nullptr;
}

Float32 TBGetControlBackingScale(ControlRef inControl)
{
    if (Alive(inControl) == nullptr || inControl->widget == nullptr) return 1;
    return Float32(inControl->widget->devicePixelRatioF());
}

OSStatus TBSetControlBackingPixels(ControlRef inControl, GWorldPtr inWorld, Float32 inScale)
{
    if (Alive(inControl) == nullptr || inControl->widget == nullptr) return errUnknownControl;
    QImage& backing = inControl->backing;
    if (inWorld == nullptr) {
        if (!backing.isNull()) inControl->widget->update();
        backing = QImage();
        return noErr;
    }
    PixMapHandle map = GetGWorldPixMap(inWorld);
    Rect bounds;
    if (map == nullptr || !(inScale >= 1 && inScale <= 16) || GetPixDepth(map) != 32) return paramErr;
    GetPixBounds(map, &bounds);
    const QSize size(bounds.right - bounds.left, bounds.bottom - bounds.top);
    const GWorldFlags state = GetPixelsState(map);
    LockPixels(map);
    const auto* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(map));
    if (size.isEmpty() || base == nullptr) {
        SetPixelsState(map, state);
        return paramErr;
    }
    backing = tbui::ImageOfPixels(base, GetPixRowBytes(map), QRect(QPoint(0, 0), size));
    SetPixelsState(map, state);
    backing.setDevicePixelRatio(inScale);
    inControl->widget->update();
    return noErr;
}

OSStatus SetThemeCursor(ThemeCursor inCursor)
{
    static const std::pair<ThemeCursor, Qt::CursorShape> kShapes[] = {
        {kThemeArrowCursor, Qt::ArrowCursor},
        {kThemeIBeamCursor, Qt::IBeamCursor},
        {kThemeCrossCursor, Qt::CrossCursor},
        {kThemeClosedHandCursor, Qt::ClosedHandCursor},
        {kThemeOpenHandCursor, Qt::OpenHandCursor},
        {kThemePointingHandCursor, Qt::PointingHandCursor},
        {kThemeResizeLeftRightCursor, Qt::SizeHorCursor},
        {kThemeNotAllowedCursor, Qt::ForbiddenCursor},
        {kThemeResizeUpDownCursor, Qt::SizeVerCursor},
        {kThemeResizeDiagonalFallCursor, Qt::SizeFDiagCursor},
        {kThemeResizeDiagonalRiseCursor, Qt::SizeBDiagCursor},
        {kThemeMoveCursor, Qt::SizeAllCursor},
    };
    const auto found = std::find_if(std::begin(kShapes), std::end(kShapes),
                                    [inCursor](const auto& entry) { return entry.first == inCursor; });
    if (found == std::end(kShapes)) return paramErr;
    QWidget* widget = gCursorWidget != nullptr ? gCursorWidget.data() : TheTracker().widget.data();
    if (widget != nullptr) widget->setCursor(found->second);
    return noErr;
}

OSStatus SetThemeBackground(ThemeBrush inBrush, SInt16, Boolean)
{
    if (inBrush != kThemeBrushDialogBackgroundActive) return paramErr;
    TBEnsureApplication();
    const QColor window = QApplication::palette().color(QPalette::Active, QPalette::Window);
    const RGBColor color{UInt16(window.red() * 257), UInt16(window.green() * 257), UInt16(window.blue() * 257)};
    RGBBackColor(&color);
    return noErr;
}
