// Shared set-up of the ui library's tests: Qt on the offscreen platform and
// a bundle in a fresh temporary folder whose nibs the tests write.
#pragma once

#include "CFBundle.h"
#include "IBCarbonRuntime.h"
#include "ToolboxUI.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// Fontconfig keeps its caches until the process ends; Qt never frees them.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace uitest {

inline void StartQt()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TBEnsureApplication();
    TBInstallUIHooks();
}

// A bundle X.bundle with Info.plist and Resources/, removed at the end.
class TempBundle {
public:
    explicit TempBundle(const std::string& identifier)
    {
        char pattern[] = "/tmp/tbui-XXXXXX";
        const char* made = mkdtemp(pattern);
        root_ = made != nullptr ? made : "/tmp";
        bundle_ = root_ / "Test.bundle";
        std::filesystem::create_directories(Resources());
        std::ofstream(bundle_ / "Contents" / "Info.plist")
            << "<plist><dict><key>CFBundleIdentifier</key><string>" << identifier << "</string></dict></plist>";
    }
    ~TempBundle() { std::filesystem::remove_all(root_); }

    std::filesystem::path Resources() const { return bundle_ / "Contents" / "Resources"; }

    void WriteWindow(const std::string& nib, const std::string& window, const std::string& uiText) const
    {
        std::filesystem::create_directories(Resources() / (nib + ".nib"));
        std::ofstream(Resources() / (nib + ".nib") / (window + ".ui")) << uiText;
    }

    // The bundle as the toolbox knows it (found by identifier afterwards).
    CFBundleRef Open() const
    {
        CFURLRef url = TBCFURLCreateWithPath(bundle_.string(), true);
        CFBundleRef bundle = CFBundleCreate(nullptr, url);
        CFRelease(url);
        return bundle;
    }

private:
    std::filesystem::path root_;
    std::filesystem::path bundle_;
};

inline std::string Geometry(int x, int y, int w, int h)
{
    return "<property name=\"geometry\"><rect><x>" + std::to_string(x) + "</x><y>" + std::to_string(y) + "</y><width>" +
           std::to_string(w) + "</width><height>" + std::to_string(h) + "</height></rect></property>\n";
}

// A Designer form: a dialog holding the given widgets.
inline std::string Form(int width, int height, const std::string& widgets)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n<class>Form</class>\n"
           "<widget class=\"QDialog\" name=\"Form\">\n" +
           Geometry(0, 0, width, height) + widgets + "</widget>\n</ui>\n";
}

// One widget at a fixed place with the given properties.
inline std::string Widget(const std::string& className, const std::string& name, int x, int y, int w, int h,
                          const std::string& properties)
{
    return "<widget class=\"" + className + "\" name=\"" + name + "\">\n" + Geometry(x, y, w, h) + properties +
           "</widget>\n";
}

// A dynamic text property.
inline std::string Text(const std::string& name, const std::string& value)
{
    return "<property name=\"" + name + "\" stdset=\"0\"><string>" + value + "</string></property>\n";
}

// The control signature and ID that GetControlByID finds the widget by.
inline std::string Identity(const std::string& signature, int id)
{
    return Text("controlSignature", signature) + "<property name=\"controlID\" stdset=\"0\"><number>" +
           std::to_string(id) + "</number></property>\n";
}

inline WindowRef OpenWindow(CFBundleRef bundle, const char* nib, const char* window)
{
    IBNibRef nibRef = nullptr;
    CFStringRef nibName = TBCFStringCreateWithUTF8(nib);
    CFStringRef windowName = TBCFStringCreateWithUTF8(window);
    WindowRef result = nullptr;
    if (CreateNibReferenceWithCFBundle(bundle, nibName, &nibRef) == noErr) {
        CreateWindowFromNib(nibRef, windowName, &result);
        DisposeNibReference(nibRef);
    }
    CFRelease(nibName);
    CFRelease(windowName);
    return result;
}

inline ControlRef Find(WindowRef window, const char (&signature)[5], SInt32 id)
{
    const ControlID controlID{FOUR_CHAR_CODE(signature), id};
    ControlRef control = nullptr;
    GetControlByID(window, &controlID, &control);
    return control;
}

}  // namespace uitest
