// The QApplication, the hooks the toolbox core calls, and text conversions.
#include "Dialogs.h"
#include "Fonts.h"
#include "ToolboxUI.h"
#include "UIPrivate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QInputEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>

namespace {

Qt::KeyboardModifiers gLastModifiers;
bool gModifiersSeen = false;

// Keeps GetCurrentKeyModifiers in step with the input events of every widget.
class InputWatcher : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            tbui::NoteModifiers(static_cast<QInputEvent*>(event)->modifiers());
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

QPointer<QObject> gWatcher;

void WatchInput()
{
    if (gWatcher != nullptr || QCoreApplication::instance() == nullptr) return;
    gWatcher = new InputWatcher(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(gWatcher);
}

bool EnvSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

UInt32 CurrentModifiers()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return 0;
    WatchInput();
    const Qt::KeyboardModifiers modifiers =
        gModifiersSeen ? gLastModifiers : QGuiApplication::queryKeyboardModifiers();
    return tbui::MacModifiers(modifiers);
}

// ---- Text drawing into ports ----

QFont PortFont(GrafPtr port)
{
    QFont font = QApplication::font();
    if (port->textFont != 0 && port->textFont != 1) {
        const QStringList families = QFontDatabase::families();
        const int index = port->textFont - 2;
        if (index >= 0 && index < families.size()) font.setFamily(families[index]);
    }
    font.setPixelSize(port->textSize > 0 ? port->textSize : 12);
    font.setBold((port->textFace & 1) != 0);
    font.setItalic((port->textFace & 2) != 0);
    font.setUnderline((port->textFace & 4) != 0);
    return font;
}

SInt16 HookStringWidth(GrafPtr port, ConstStr255Param s)
{
    TBEnsureApplication();
    const QFontMetrics metrics(PortFont(port));
    return SInt16(std::min(32767, metrics.horizontalAdvance(tbui::FromPascal(s))));
}

void HookDrawString(GrafPtr port, ConstStr255Param s)
{
    TBEnsureApplication();
    const QFont font = PortFont(port);
    const QFontMetrics metrics(font);
    const QString text = tbui::FromPascal(s);
    const int width = metrics.horizontalAdvance(text);
    const Point pen = port->penLoc;
    const Rect& bounds = port->pixMap.bounds;
    Rect area{SInt16(std::max(-32768, pen.v - metrics.ascent())), pen.h,
              SInt16(std::min(32767, pen.v + metrics.descent() + 1)),
              SInt16(std::min(32767, pen.h + width + 1))};
    Rect visible;
    const bool drawn = SectRect(&area, &bounds, &visible) && SectRect(&visible, &port->clipRect, &visible);
    port->penLoc.h = SInt16(std::min(32767, pen.h + width));
    if (!drawn) return;

    const int w = visible.right - visible.left;
    const int h = visible.bottom - visible.top;
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    auto* base = reinterpret_cast<UInt8*>(port->pixMap.baseAddr);
    const SInt32 rowBytes = port->pixMap.rowBytes;
    for (int y = 0; y < h; ++y) {
        const UInt8* src = base + size_t(visible.top - bounds.top + y) * rowBytes +
                           size_t(visible.left - bounds.left) * 4;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x, src += 4)
            dst[x] = (QRgb(0xFF) << 24) | (QRgb(src[1]) << 16) | (QRgb(src[2]) << 8) | src[3];
    }
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        const RGBColor& fore = port->foreColor;
        painter.setPen(QColor::fromRgba64(fore.red, fore.green, fore.blue));
        painter.drawText(QPoint(pen.h - visible.left, pen.v - visible.top), text);
    }
    for (int y = 0; y < h; ++y) {
        UInt8* dst = base + size_t(visible.top - bounds.top + y) * rowBytes +
                     size_t(visible.left - bounds.left) * 4;
        const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x, dst += 4) {
            dst[1] = UInt8(qRed(src[x]));
            dst[2] = UInt8(qGreen(src[x]));
            dst[3] = UInt8(qBlue(src[x]));
        }
    }
    TBPortPixelsChanged(&port->bitMap, &visible);
}

// ---- Alerts ----

DialogItemIndex ShowAlert(const TBAlertRequest& request)
{
    if (QApplication::instance() == nullptr && !EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY")) {
        static const char* const kNames[] = {"Stop", "Note", "Caution", "Alert"};
        const int type = request.type >= 0 && request.type <= 3 ? request.type : 3;
        std::fprintf(stderr, "%s: %s\n", kNames[type], request.headline.c_str());
        if (!request.text.empty()) std::fprintf(stderr, "  %s\n", request.text.c_str());
        std::fflush(stderr);
        return request.defaultButton;
    }
    TBEnsureApplication();
    const tbui::ReturnFocusAfterModal returnFocus;
    QMessageBox box(QApplication::activeModalWidget());
    switch (request.type) {
    case kAlertStopAlert:
        box.setIcon(QMessageBox::Critical);
        break;
    case kAlertNoteAlert:
        box.setIcon(QMessageBox::Information);
        break;
    case kAlertCautionAlert:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setWindowTitle(QString::fromUtf8(request.headline.c_str()));
    box.setText(QString::fromUtf8(request.headline.c_str()));
    box.setInformativeText(QString::fromUtf8(request.text.c_str()));
    std::map<QAbstractButton*, DialogItemIndex> items;
    QPushButton* ok = box.addButton(QString::fromUtf8(request.okTitle.c_str()), QMessageBox::AcceptRole);
    items[ok] = kAlertStdAlertOKButton;
    if (request.cancelTitle)
        items[box.addButton(QString::fromUtf8(request.cancelTitle->c_str()), QMessageBox::RejectRole)] =
            kAlertStdAlertCancelButton;
    if (request.otherTitle)
        items[box.addButton(QString::fromUtf8(request.otherTitle->c_str()), QMessageBox::DestructiveRole)] =
            kAlertStdAlertOtherButton;
    for (const auto& [button, item] : items) {
        if (item == request.defaultButton) box.setDefaultButton(static_cast<QPushButton*>(button));
        if (item == request.cancelButton) box.setEscapeButton(button);
    }
    box.exec();
    const auto found = items.find(box.clickedButton());
    if (found != items.end()) return found->second;
    return request.cancelButton != 0 ? request.cancelButton : request.defaultButton;
}

OSStatus ProcessCommand(const HICommand* command)
{
    return tbui::SendCommand(command->commandID, command->attributes, GetUserFocusEventTarget());
}


// Mac OS Roman bytes 0x80..0xFF as Unicode, taken from the core's strings.
const std::vector<char16_t>& HighRoman()
{
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> high(128, u'?');
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const unsigned char text[2] = {1, static_cast<unsigned char>(byte)};
            CFStringRef string = CFStringCreateWithPascalString(nullptr, text, kCFStringEncodingMacRoman);
            if (string != nullptr && CFStringGetLength(string) == 1)
                high[byte - 0x80] = CFStringGetCharacterAtIndex(string, 0);
            CFRelease(string);
        }
        return high;
    }();
    return table;
}

}  // namespace

namespace tbui {

QString FromMacRoman(const unsigned char* bytes, size_t count)
{
    QString text;
    text.reserve(qsizetype(count));
    const auto& high = HighRoman();
    for (size_t i = 0; i < count; ++i)
        text += bytes[i] < 0x80 ? QChar(bytes[i]) : QChar(high[bytes[i] - 0x80]);
    return text;
}

std::string ToMacRoman(const QString& text)
{
    const auto& high = HighRoman();
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            bytes += char(c.unicode());
            continue;
        }
        const auto found = std::find(high.begin(), high.end(), char16_t(c.unicode()));
        bytes += found != high.end() ? char(0x80 + (found - high.begin())) : '?';
    }
    return bytes;
}

QString FromCFString(CFStringRef text)
{
    return text != nullptr ? QString::fromStdString(TBCFStringToUTF8(text)) : QString();
}

CFStringRef ToCFString(const QString& text)
{
    return TBCFStringCreateWithUTF8(text.toStdString());
}

QString FromPascal(ConstStr255Param text)
{
    return text != nullptr ? FromMacRoman(text + 1, text[0]) : QString();
}

void ToPascal(const QString& text, Str255 out)
{
    const std::string bytes = ToMacRoman(text);
    const size_t count = std::min<size_t>(bytes.size(), 255);
    out[0] = static_cast<unsigned char>(count);
    std::memcpy(out + 1, bytes.data(), count);
}

UInt32 MacModifiers(Qt::KeyboardModifiers modifiers)
{
    UInt32 mac = 0;
    if (modifiers & Qt::ShiftModifier) mac |= shiftKey;
    if (modifiers & Qt::AltModifier) mac |= optionKey;
    if (modifiers & Qt::ControlModifier) mac |= cmdKey;
    if (modifiers & Qt::MetaModifier) mac |= controlKey;
    return mac;
}

void NoteModifiers(Qt::KeyboardModifiers modifiers)
{
    gLastModifiers = modifiers;
    gModifiersSeen = true;
}

}  // namespace tbui

void TBEnsureApplication()
{
    if (QCoreApplication::instance() == nullptr) {
        if (!EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY") && !EnvSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "brimtone";
        static char* argv[] = {name, nullptr};
        auto* application = new QApplication(argc, argv);
        application->setQuitOnLastWindowClosed(false);
    }
    WatchInput();
}

void TBInstallUIHooks()
{
    static const TBTextHooks text{HookStringWidth, HookDrawString};
    TBSetTextHooks(&text);
    TBSetKeyModifiersSource(CurrentModifiers);
    TBSetStandardAlertRunner(ShowAlert);
    TBSetHICommandProcessor(ProcessCommand);
}

FMFontFamily FMGetFontFamilyFromName(ConstStr255Param iName)
{
    if (iName == nullptr) return kInvalidFontFamily;
    TBEnsureApplication();
    const QString name = tbui::FromPascal(iName);
    if (name.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0) return 0;
    const QStringList families = QFontDatabase::families();
    for (qsizetype i = 0; i < families.size() && i + 2 <= 32767; ++i) {
        if (families[i].compare(name, Qt::CaseInsensitive) == 0) return FMFontFamily(i + 2);
    }
    return kInvalidFontFamily;
}
