// The effect's settings from the host's side: the SETTINGS options, a run on
// settings of its own, and the `settings` command.
//
// The plug-in reads its settings from its preferences file when it starts.
// Settings for one run are therefore written to a private preferences folder
// that the plug-in starts in; the user's file is not touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brimtone::host {

// Settings given on the command line; those not given keep their saved value.
struct SettingsOverrides {
    struct Region {
        double left, top, right, bottom;  // fractions of the frame
    };
    std::optional<int> threshold;  // percent
    std::optional<uint32_t> dark;  // 0xRRGGBB
    std::optional<uint32_t> light;
    std::optional<Region> region;

    bool any() const { return threshold || dark || light || region; }
};

// --threshold, --dark, --light and --region.
bool isSettingsOption(const std::string& option);
// The option's help, with the range and wording of the effect's parameter table.
const char* settingsOptionHelp(const std::string& option);
// Takes the option's value into overrides; empty when it is good, else the
// usage error naming the option and what it takes.
std::string parseSettingsOption(const std::string& option, const std::string& value,
                                SettingsOverrides& overrides);

// Before the plug-in starts: says once on standard error why settings are not
// saved when the preferences file is left alone, and, with overrides, makes
// the plug-in start on the saved settings changed by them. When the dialog
// will save (configure), the user's preferences file is made first, as a
// start would. False with error when the run's settings cannot be written.
bool prepareRunSettings(const SettingsOverrides& overrides, bool dialogWillSave, std::string& error);
// Once the plug-in has started: its later saves (the dialog's OK) go to the
// user's preferences file again.
void useSavedSettingsFromNow();

// A text as a JSON string: quoted, with quotes, backslashes and control
// characters escaped.
std::string jsonString(const std::string& text);

// The settings the plug-in starts on and where they come from, as `info`
// shows them: "name: value" lines, or with json a JSON object whose lines
// after the first are indented by `indent` spaces.
std::string describeSettingsInUse(bool json = false, int indent = 0);

// `brimtone settings`: prints the saved settings (as JSON with json), or
// saves the overrides (or the defaults, with reset) as the dialog's OK does.
// The exit status.
int runSettingsCommand(const SettingsOverrides& overrides, bool reset, bool json = false);

}  // namespace brimtone::host
