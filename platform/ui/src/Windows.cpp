// Windows from nib files, their ports and application-modal loops.
#include "IBCarbonRuntime.h"
#include "ToolboxUI.h"
#include "UIPrivate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>
#include <QUiLoader>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

struct OpaqueIBNibRef {
    std::string folder;
};

namespace {

std::vector<WindowRef>& Windows()
{
    static std::vector<WindowRef> windows;
    return windows;
}

SInt16 Clamp16(int value)
{
    return SInt16(std::clamp(value, -32768, 32767));
}

void PortChanged(GrafPtr port, const Rect* changed)
{
    auto* window = static_cast<OpaqueWindowPtr*>(port->owner);
    if (tbui::LiveWindow(window) && changed != nullptr) tbui::PortPixelsChanged(window, *changed);
}

// Gives the port pixels for the window's content size, keeping what was drawn.
void SizePort(OpaqueWindowPtr* window)
{
    const QSize size = window->widget->size().boundedTo(QSize(32767, 32767)).expandedTo(QSize(1, 1));
    if (window->port != nullptr && window->port->pixelsWide == size.width() &&
        window->port->pixelsHigh == size.height())
        return;
    const SInt32 rowBytes = (size.width() * 4 + 15) / 16 * 16;
    std::unique_ptr<UInt32[]> pixels(
        TBNewArray<UInt32>(size_t(rowBytes / 4) * size_t(size.height())));
    if (pixels == nullptr) return;  // the port keeps its size, or a new window fails
    std::memset(pixels.get(), 0xFF, size_t(rowBytes) * size_t(size.height()));
    const Rect bounds{0, 0, SInt16(size.height()), SInt16(size.width())};
    if (window->port == nullptr) {
        window->port = TBNewPortOnPixels(reinterpret_cast<Ptr>(pixels.get()), rowBytes, &bounds);
        if (window->port == nullptr) return;
        window->port->pixelsChanged = PortChanged;
        window->port->owner = window;
    } else {
        const int rows = std::min<int>(size.height(), window->port->pixelsHigh);
        const size_t bytes = size_t(std::min<int>(size.width(), window->port->pixelsWide)) * 4;
        for (int y = 0; y < rows; ++y)
            std::memcpy(reinterpret_cast<UInt8*>(pixels.get()) + size_t(y) * rowBytes,
                        reinterpret_cast<UInt8*>(window->pixels.get()) + size_t(y) * window->rowBytes,
                        bytes);
        TBSetPortPixels(window->port, reinterpret_cast<Ptr>(pixels.get()), rowBytes, &bounds);
        Rect clip = bounds;
        window->port->clipRect = clip;
    }
    window->pixels = std::move(pixels);
    window->rowBytes = rowBytes;
}

void CloseRequested(OpaqueWindowPtr* window)
{
    EventRef event = tbui::NewEvent(kEventClassWindow, kEventWindowClose);
    SetEventParameter(event, kEventParamDirectObject, typeWindowRef, sizeof(WindowRef), &window);
    OSStatus result = SendEventToEventTarget(event, &window->target);
    ReleaseEvent(event);
    if (result != eventNotHandledErr || !tbui::LiveWindow(window)) return;
    result = tbui::SendCommand(kHICommandCancel, kHICommandFromWindow, &window->target);
    if (result != eventNotHandledErr || !tbui::LiveWindow(window)) return;
    HideWindow(window);
    if (!window->modalLoops.empty()) QuitAppModalLoopForWindow(window);
}

bool PressButtonFor(OpaqueWindowPtr* window, UInt32 command)
{
    OpaqueControlRef* control = tbui::ControlWithCommand(window, command);
    if (control == nullptr || control->widget == nullptr || !control->widget->isEnabled()) return false;
    if (auto* button = qobject_cast<QAbstractButton*>(control->widget.data())) {
        button->click();
        return true;
    }
    tbui::SendCommand(command, kHICommandFromControl, &control->target);
    return true;
}

// Close box, keys Return and Escape, and resizing of the port.
class WindowFilter : public QObject {
public:
    WindowFilter(OpaqueWindowPtr* window, QObject* parent) : QObject(parent), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_->widget || window_->disposing) return false;
        switch (event->type()) {
        case QEvent::Close:
            event->ignore();
            CloseRequested(window_);
            return true;
        case QEvent::Resize:
            SizePort(window_);
            for (OpaqueControlRef* control : window_->controls) control->needsDraw = true;
            return false;
        case QEvent::KeyPress:
            return KeyPressed(static_cast<QKeyEvent*>(event));
        default:
            return false;
        }
    }

private:
    bool KeyPressed(QKeyEvent* key)
    {
        if (key->modifiers() & ~(Qt::KeypadModifier)) return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            for (QPushButton* button : window_->widget->findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isVisible() && button->isEnabled()) {
                    button->click();
                    return true;
                }
            }
            return PressButtonFor(window_, kHICommandOK);
        }
        if (key->key() == Qt::Key_Escape) {
            if (!PressButtonFor(window_, kHICommandCancel)) CloseRequested(window_);
            return true;
        }
        return false;
    }

    OpaqueWindowPtr* window_;
};

// The offscreen platform has no stacking order and says so on every raise.
void Raise(QWidget* widget)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) widget->raise();
}

bool IsDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

namespace tbui {

bool LiveWindow(WindowRef window)
{
    const auto& windows = Windows();
    return window != nullptr && std::find(windows.begin(), windows.end(), window) != windows.end() &&
           window->magic == kWindowMagic;
}

const std::vector<WindowRef>& AllWindows()
{
    return Windows();
}

OpaqueWindowPtr* WindowOfPort(GrafPtr port)
{
    for (WindowRef window : Windows()) {
        if (window->port == port) return window;
    }
    return nullptr;
}

OpaqueWindowPtr* InnermostModalWindow()
{
    OpaqueWindowPtr* found = nullptr;
    size_t depth = 0;
    for (WindowRef window : Windows()) {
        if (window->modalLoops.size() > depth) {
            depth = window->modalLoops.size();
            found = window;
        }
    }
    if (found != nullptr) return found;
    if (QWidget* active = QApplication::activeWindow()) {
        for (WindowRef window : Windows()) {
            if (window->widget == active) return window;
        }
    }
    return nullptr;
}

void LayOut(OpaqueWindowPtr* window)
{
    if (window->widget == nullptr) return;
    if (QLayout* layout = window->widget->layout()) layout->activate();
    for (QWidget* child : window->widget->findChildren<QWidget*>()) {
        if (QLayout* layout = child->layout()) layout->activate();
    }
}

}  // namespace tbui

OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef)
{
    return CreateNibReferenceWithCFBundle(CFBundleGetMainBundle(), inNibName, outNibRef);
}

OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName, IBNibRef* outNibRef)
{
    if (outNibRef == nullptr) return paramErr;
    *outNibRef = nullptr;
    if (inBundle == nullptr || inNibName == nullptr) return paramErr;
    CFStringRef type = TBCFSTR("nib");
    CFURLRef url = CFBundleCopyResourceURL(inBundle, inNibName, type, nullptr);
    const std::string folder = TBCFURLGetPath(url);
    CFRelease(url);
    if (folder.empty() || !IsDirectory(folder)) return kIBCarbonRuntimeCantFindNibFile;
    *outNibRef = TBNew<OpaqueIBNibRef>(folder);
    if (*outNibRef == nullptr) return memFullErr;
    return noErr;
}

void DisposeNibReference(IBNibRef inNibRef)
{
    delete inNibRef;
}

OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow)
{
    if (outWindow == nullptr) return paramErr;
    *outWindow = nullptr;
    if (inNibRef == nullptr || inName == nullptr) return paramErr;
    const std::string name = TBCFStringToUTF8(inName);
    if (name.empty() || name.find('/') != std::string::npos) return kIBCarbonRuntimeCantFindObject;
    QFile file(QString::fromStdString(inNibRef->folder + "/" + name + ".ui"));
    if (!file.exists()) return kIBCarbonRuntimeCantFindObject;
    if (!file.open(QIODevice::ReadOnly)) return kIBCarbonRuntimeCantFindObject;
    TBEnsureApplication();
    QUiLoader loader;
    QWidget* widget = loader.load(&file);
    if (widget == nullptr) return kIBCarbonRuntimeObjectNotOfRequestedType;
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    if (qobject_cast<QDialog*>(widget) != nullptr && widget->windowModality() == Qt::NonModal)
        widget->setWindowModality(Qt::ApplicationModal);

    auto* window = TBNew<OpaqueWindowPtr>();
    if (window == nullptr) {
        delete widget;
        return memFullErr;
    }
    window->magic = kWindowMagic;
    window->widget = widget;
    window->target.parent = tbui::ApplicationTarget();
    window->target.owner = window;
    try {
        Windows().push_back(window);
    } catch (const std::bad_alloc&) {
        window->magic = 0;
        delete window;
        delete widget;
        return memFullErr;
    }
    SizePort(window);
    if (window->port == nullptr) {
        DisposeWindow(window);
        return memFullErr;
    }
    window->filter = new WindowFilter(window, widget);
    widget->installEventFilter(window->filter);
    if (!tbui::MakeControls(window)) {
        DisposeWindow(window);
        return memFullErr;
    }
    tbui::LayOut(window);
    *outWindow = window;
    return noErr;
}

void ShowWindow(WindowRef window)
{
    if (!tbui::LiveWindow(window) || window->widget == nullptr) return;
    tbui::LayOut(window);
    window->widget->show();
    Raise(window->widget);
    window->widget->activateWindow();
}

void HideWindow(WindowRef window)
{
    if (tbui::LiveWindow(window) && window->widget != nullptr) window->widget->hide();
}

void DisposeWindow(WindowRef window)
{
    if (!tbui::LiveWindow(window) || window->disposing) return;
    window->disposing = true;
    for (QEventLoop* loop : window->modalLoops) loop->exit(0);
    tbui::DisposeControls(window);
    tbui::RemoveAllHandlers(&window->target);
    auto& windows = Windows();
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
    if (window->widget != nullptr) {
        window->widget->hide();
        window->widget->removeEventFilter(window->filter);
        window->widget->deleteLater();
    }
    CGrafPtr current = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&current, &device);
    if (current == window->port) SetGWorld(nullptr, nullptr);
    TBDisposePort(window->port);
    window->magic = 0;
    // A modal loop of this window may still be unwinding; it owns no state here.
    delete window;
}

void BringToFront(WindowRef window)
{
    if (!tbui::LiveWindow(window) || window->widget == nullptr) return;
    Raise(window->widget);
}

CGrafPtr GetWindowPort(WindowRef window)
{
    return tbui::LiveWindow(window) ? window->port : nullptr;
}

OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds)
{
    if (!tbui::LiveWindow(window) || window->widget == nullptr) return errInvalidWindowRef;
    if (globalBounds == nullptr) return paramErr;
    const QRect area = regionCode == kWindowStructureRgn ? window->widget->frameGeometry()
                                                         : window->widget->geometry();
    *globalBounds = Rect{Clamp16(area.top()), Clamp16(area.left()), Clamp16(area.top() + area.height()),
                         Clamp16(area.left() + area.width())};
    return noErr;
}

OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds)
{
    if (!tbui::LiveWindow(window) || window->widget == nullptr) return errInvalidWindowRef;
    if (globalBounds == nullptr || globalBounds->right < globalBounds->left ||
        globalBounds->bottom < globalBounds->top)
        return paramErr;
    QRect area(globalBounds->left, globalBounds->top, globalBounds->right - globalBounds->left,
               globalBounds->bottom - globalBounds->top);
    if (regionCode == kWindowStructureRgn) {
        const QRect frame = window->widget->frameGeometry();
        const QRect content = window->widget->geometry();
        area.adjust(content.left() - frame.left(), content.top() - frame.top(),
                    content.right() - frame.right(), content.bottom() - frame.bottom());
    }
    window->widget->setGeometry(area);
    SizePort(window);
    return noErr;
}

OSStatus RunAppModalLoopForWindow(WindowRef inWindow)
{
    if (!tbui::LiveWindow(inWindow) || inWindow->widget == nullptr) return errInvalidWindowRef;
    QWidget* widget = inWindow->widget;
    if (widget->windowModality() != Qt::ApplicationModal) {
        const bool visible = widget->isVisible();
        if (visible) widget->hide();
        widget->setWindowModality(Qt::ApplicationModal);
        if (visible) widget->show();
    }
    QEventLoop loop;
    inWindow->modalLoops.push_back(&loop);
    loop.exec(QEventLoop::DialogExec);
    // The window may have been disposed of while the loop ran.
    if (tbui::LiveWindow(inWindow)) {
        auto& loops = inWindow->modalLoops;
        loops.erase(std::remove(loops.begin(), loops.end(), &loop), loops.end());
    }
    return noErr;
}

OSStatus QuitAppModalLoopForWindow(WindowRef inWindow)
{
    if (!tbui::LiveWindow(inWindow) || inWindow->modalLoops.empty()) return errInvalidWindowRef;
    inWindow->modalLoops.back()->exit(0);
    return noErr;
}

QWidget* TBGetWindowWidget(WindowRef window)
{
    return tbui::LiveWindow(window) ? window->widget.data() : nullptr;
}
