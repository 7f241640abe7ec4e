// The ui library's own calls, for hosts and tests: the Qt objects behind
// toolbox references, and hooks.
#pragma once

#include "CFURL.h"
#include "Controls.h"
#include "MacWindows.h"

class QWidget;

// Makes the QApplication when the process has none. Without a display and
// without QT_QPA_PLATFORM, Qt's "offscreen" platform is chosen.
TB_EXPORT void TBEnsureApplication();

// Routes the core's text drawing, keyboard modifiers, HI commands and
// alerts through Qt (message boxes when a display or QApplication is there,
// standard error otherwise). Loading the library routes nothing: the host
// and the tests that want this call it, then install their own hooks over it.
TB_EXPORT void TBInstallUIHooks();

// The top-level widget of a window, the widget of a control; nil for dead
// references.
TB_EXPORT QWidget* TBGetWindowWidget(WindowRef window);
TB_EXPORT QWidget* TBGetControlWidget(ControlRef control);

// Launch Services hands documents to this routine; nil restores the
// desktop's default (QDesktopServices, then xdg-open). It returns noErr or
// a Launch Services error. Returns the routine that was installed.
using TBDocumentOpener = OSStatus (*)(const std::string& url);
TB_EXPORT TBDocumentOpener TBSetDocumentOpener(TBDocumentOpener opener);
