// configure --screenshot: takes the picture of the plug-in's dialog once it
// is up and closes it with Escape, as a user cancels it.
#pragma once

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <string>

namespace brimtone::host {

class DialogCamera {
public:
    // click: the command of a dialog button to press first (as "Info" for
    // About); the picture is then of the window that the click opens.
    // Alerts are printed on standard error as well as shown while the
    // camera lives.
    // Messages name `shownPath` when given (the file the user asked for,
    // when `path` is a temporary one).
    DialogCamera(std::string path, std::string click, std::string shownPath = {});
    ~DialogCamera();

    bool written() const { return written_; }
    const std::string& error() const { return error_; }

    // How long the camera waits for the dialog (its first preview is
    // rendered first), and for the window a click opens, before it gives up.
    static constexpr int kDialogPatienceMs = 20000;
    static constexpr int kClickPatienceMs = 5000;

private:
    void look();
    void giveUp(QWidget* window);
    void cancel(QWidget* window);

    std::string path_;
    std::string shownPath_;
    std::string click_;
    QTimer timer_;
    qint64 waitingSince_ = 0;
    QPointer<QWidget> seen_;
    QPointer<QWidget> opener_;
    QList<QPointer<QWidget>> cancelled_;
    bool clicked_ = false;
    bool done_ = false;
    bool written_ = false;
    std::string error_;
};

}  // namespace brimtone::host
