// Shared set-up of the ui library's tests: Qt on the offscreen platform and
// a bundle in a fresh temporary folder whose nibs the tests write.
#pragma once

#include "CFBundle.h"
#include "IBCarbonRuntime.h"
#include "ToolboxUI.h"

#include <QApplication>
#include <QByteArray>

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
}

// A bundle X.bundle with Info.plist and Resources/, removed at the end.
class TempBundle {
public:
    explicit TempBundle(const std::string& identifier) : identifier_(identifier)
    {
        char pattern[] = "/tmp/tbui-XXXXXX";
        const char* made = mkdtemp(pattern);
        root_ = made != nullptr ? made : "/tmp";
        bundle_ = root_ / "Test.bundle";
        std::filesystem::create_directories(bundle_ / "Contents" / "Resources");
        std::ofstream(bundle_ / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>CFBundleIdentifier</key>\n\t<string>"
            << identifier << "</string>\n</dict>\n</plist>\n";
    }
    ~TempBundle() { std::filesystem::remove_all(root_); }

    std::filesystem::path Resources() const { return bundle_ / "Contents" / "Resources"; }
    std::filesystem::path Path() const { return bundle_; }

    void WriteWindow(const std::string& nib, const std::string& window, const std::string& uiText) const
    {
        const auto folder = Resources() / (nib + ".nib");
        std::filesystem::create_directories(folder);
        std::ofstream(folder / (window + ".ui")) << uiText;
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
    std::string identifier_;
    std::filesystem::path root_;
    std::filesystem::path bundle_;
};

// A Designer form: a dialog holding the given widgets.
inline std::string Form(int width, int height, const std::string& widgets)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n<class>Form</class>\n"
           "<widget class=\"QDialog\" name=\"Form\">\n"
           "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>" +
           std::to_string(width) + "</width><height>" + std::to_string(height) +
           "</height></rect></property>\n" + widgets + "</widget>\n</ui>\n";
}

// One widget at a fixed place with optional dynamic properties.
inline std::string Widget(const std::string& className, const std::string& name, int x, int y, int w, int h,
                          const std::string& properties)
{
    return "<widget class=\"" + className + "\" name=\"" + name +
           "\">\n<property name=\"geometry\"><rect><x>" + std::to_string(x) + "</x><y>" + std::to_string(y) +
           "</y><width>" + std::to_string(w) + "</width><height>" + std::to_string(h) +
           "</height></rect></property>\n" + properties + "</widget>\n";
}

inline std::string Text(const std::string& name, const std::string& value)
{
    return "<property name=\"" + name + "\" stdset=\"0\"><string>" + value + "</string></property>\n";
}

inline std::string Number(const std::string& name, int value)
{
    return "<property name=\"" + name + "\" stdset=\"0\"><number>" + std::to_string(value) +
           "</number></property>\n";
}

inline std::string Std(const std::string& name, const std::string& xmlValue)
{
    return "<property name=\"" + name + "\">" + xmlValue + "</property>\n";
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
