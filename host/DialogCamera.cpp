#include "DialogCamera.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

#include "Dialogs.h"
#include "Interrupt.h"

namespace brimtone::host {
namespace {

TBAlertRunner gShownAlerts = nullptr;

// A fatal alert ends the process once shown; its text must not be lost in
// a picture nobody looks at.
DialogItemIndex printAndShow(const TBAlertRequest& request)
{
    static const char* const kKinds[] = {"Stop", "Note", "Caution", "Alert"};
    const int kind = request.type >= 0 && request.type <= 3 ? request.type : 3;
    std::fprintf(stderr, "brimtone: %s alert: %s\n", kKinds[kind], request.headline.c_str());
    if (!request.text.empty()) std::fprintf(stderr, "  %s\n", request.text.c_str());
    std::fflush(stderr);
    return gShownAlerts != nullptr ? gShownAlerts(request) : request.defaultButton;
}

// The window in front: the innermost modal one, else any shown window.
QWidget* frontWindow()
{
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) return modal;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->isWindow()) return widget;
    return nullptr;
}

QAbstractButton* buttonWithCommand(QWidget* window, const std::string& command)
{
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->property("commandID").toString().toStdString() == command && button->isVisible())
            return button;
    return nullptr;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

DialogCamera::DialogCamera(std::string path, std::string click, std::string shownPath)
    : path_(std::move(path)), shownPath_(shownPath.empty() ? path_ : std::move(shownPath)), click_(std::move(click)),
      waitingSince_(now())
{
    gShownAlerts = TBSetStandardAlertRunner(printAndShow);
    QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
    timer_.start(0);
}

DialogCamera::~DialogCamera()
{
    TBSetStandardAlertRunner(gShownAlerts);
    gShownAlerts = nullptr;
}

void DialogCamera::look()
{
    QWidget* window = frontWindow();
    if (!done_ && now() - waitingSince_ > (clicked_ ? kClickPatienceMs : kDialogPatienceMs)) return giveUp(window);
    if (!window) {
        seen_ = nullptr;
        return;
    }
    // A window is taken on the second look, once its layout and first
    // paint requests have been handled.
    if (window != seen_) {
        seen_ = window;
        return;
    }
    if (done_) return cancel(window);
    if (!click_.empty() && !clicked_) {
        QAbstractButton* button = buttonWithCommand(window, click_);
        clicked_ = true;
        opener_ = window;
        waitingSince_ = now();
        if (!button) {
            error_ = "the dialog has no button with the command '" + click_ + "'";
            done_ = true;
            return cancel(window);
        }
        QTimer::singleShot(0, button, [button] { button->click(); });
        return;
    }
    if (clicked_ && window == opener_) return;
    const QPixmap picture = window->grab();
    written_ = picture.save(QString::fromStdString(path_), "PNG");
    if (!written_) error_ = "cannot write the screenshot " + shownPath_;
    done_ = true;
    cancel(window);
}

void DialogCamera::giveUp(QWidget* window)
{
    const std::string seconds = std::to_string((clicked_ ? kClickPatienceMs : kDialogPatienceMs) / 1000) + " seconds";
    done_ = true;
    if (clicked_) {
        error_ = "the button '" + click_ + "' opened no window within " + seconds +
                 " (BRIMTONE_SCREENSHOT_CLICK names a button that opens one, such as Info)";
    } else {
        error_ = "the effect's dialog did not open within " + seconds;
    }
    if (window) return cancel(window);
    // Nothing to close: the plug-in waits for a window that will not come.
    std::fprintf(stderr, "brimtone: %s\n", error_.c_str());
    std::fflush(stderr);
    Interrupt::removeTemporaries();
    std::_Exit(1);
}

void DialogCamera::cancel(QWidget* window)
{
    if (cancelled_.contains(window)) return;
    cancelled_.append(window);
    QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

}  // namespace brimtone::host
