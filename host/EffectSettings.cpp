#include "EffectSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "MacMemory.h"
#include "TemporaryFolder.h"
#include "plugin/DataHandling.h"
#include "plugin/EffectParameters.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace brimtone::host {

namespace {

const EffectParameter& kThreshold = kEffectParameters[kParamThreshold];
// The four edges share one range.
const EffectParameter& kEdge = kEffectParameters[kParamLeft];

template <typename T>
bool parseWhole(const std::string& text, T& value, int base = 10)
{
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && stop == end;
}

bool parseColour(std::string text, uint32_t& colour)
{
    if (text.rfind('#', 0) == 0)
        text.erase(0, 1);
    else if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)
        text.erase(0, 2);
    return text.size() == 6 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos &&
           parseWhole(text, colour, 16);
}

bool parseRegion(const std::string& text, SettingsOverrides::Region& region)
{
    double* const edges[] = {&region.left, &region.top, &region.right, &region.bottom};
    size_t start = 0;
    for (size_t n = 0; n < 4; ++n) {
        const size_t comma = n < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos) return false;
        const char* first = text.data() + start;
        const char* last = text.data() + comma;
        const auto [stop, ec] = std::from_chars(first, last, *edges[n]);
        if (ec != std::errc() || stop != last ||
            !(*edges[n] >= kEdge.minimum / kPercentPerFraction && *edges[n] <= kEdge.maximum / kPercentPerFraction))
            return false;
        start = comma + 1;
    }
    return region.left < region.right && region.top < region.bottom;
}

// A colour channel of 8 bits fills all 16, so #ffffff is the defaults' white.
RGBColor toRGBColor(uint32_t packed)
{
    return RGBColor{UInt16(((packed >> 16) & 0xFF) * 257), UInt16(((packed >> 8) & 0xFF) * 257),
                    UInt16((packed & 0xFF) * 257)};
}

void apply(const SettingsOverrides& overrides, pluginDataRec& config)
{
    if (overrides.threshold) config.Sliders[kThresholdSlider] = SInt16(*overrides.threshold);
    if (overrides.dark) config.Colors[kDarkColor] = toRGBColor(*overrides.dark);
    if (overrides.light) config.Colors[kLightColor] = toRGBColor(*overrides.light);
    if (overrides.region) {
        const auto& r = *overrides.region;
        config.StartRel = SetRelRect(r.left, r.top, r.right, r.bottom);
    }
}

struct SettingsInUse {
    pluginDataRec config{};
    bool saved = false;
    std::string from;  // the file, or why the defaults are in use
};

SettingsInUse readSettingsInUse()
{
    SettingsInUse in;
    ResetConfig(&in.config, true);
    const PrefsFileInfo file = InspectPrefsFile();
    switch (ReadSavedConfig(&in.config)) {
    case SavedConfig::read:
        in.saved = true;
        in.from = file.path;
        return in;
    case SavedConfig::none:
        in.from = file.path + " holds no saved settings yet";
        break;
    case SavedConfig::refused:
        in.from = "the settings saved in " + file.path +
                  " are of another layout or byte order; the next start replaces them";
        break;
    case SavedConfig::unreachable:
        switch (file.place) {
        case PrefsPlace::absent:
            in.from = "no settings are saved yet: " + file.path + " does not exist";
            break;
        case PrefsPlace::file:
        case PrefsPlace::linkToFile:
            in.from = file.path + " cannot be read; the next start keeps it as " + file.path +
                      ".bad and starts afresh";
            break;
        case PrefsPlace::noFolder:
        case PrefsPlace::leftAlone:
            in.from = file.why + ", so settings are not saved";
            break;
        }
        break;
    }
    in.from = "the defaults, because " + in.from;
    return in;
}

std::string hexColour(const RGBColor& colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red >> 8, colour.green >> 8, colour.blue >> 8);
    return text;
}

// The shortest text that reads back as the same number.
std::string fraction(double value)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "?";
}

// "a whole percent from 0 to 100"
std::string thresholdRange()
{
    return "a whole percent from " + fraction(kThreshold.minimum) + " to " + fraction(kThreshold.maximum);
}

// "from 0 to 1"
std::string edgeRange()
{
    return "from " + fraction(kEdge.minimum / kPercentPerFraction) + " to " +
           fraction(kEdge.maximum / kPercentPerFraction);
}

std::string mediaFormat(SInt16 mediaType)
{
    switch (mediaType) {
    case 1: return "NTSC (720x480)";
    case 2: return "PAL (720x576)";
    case 3: return "HD (960x540)";
    default: return "unknown (" + std::to_string(mediaType) + ")";
    }
}

// Name and value of each setting, in the order they are shown.
std::vector<std::pair<std::string, std::string>> settingLines(const SettingsInUse& in)
{
    const pluginDataRec& c = in.config;
    const relRect& r = c.StartRel;
    return {{"threshold", std::to_string(c.Sliders[kThresholdSlider]) + " %"},
            {"dark", hexColour(c.Colors[kDarkColor])},
            {"light", hexColour(c.Colors[kLightColor])},
            {"region", fraction(r.left) + "," + fraction(r.top) + "," + fraction(r.right) + "," +
                           fraction(r.bottom) + " (left,top,right,bottom)"},
            {"format", mediaFormat(c.MediaType)},
            {"from", in.from}};
}

std::string describe(const SettingsInUse& in, bool json = false, int indent = 0)
{
    std::string out = json ? "{" : "";
    const std::string margin(size_t(indent) + 2, ' ');
    bool first = true;
    for (const auto& [name, value] : settingLines(in)) {
        if (json) {
            out += (first ? "\n" : ",\n") + margin + jsonString(name) + ": " + jsonString(value);
        } else {
            std::string label = name + ":";
            label.resize(std::max<size_t>(label.size() + 1, 11), ' ');
            out += label + value + "\n";
        }
        first = false;
    }
    return json ? out + "\n" + std::string(size_t(indent), ' ') + "}" : out;
}

// Points the plug-in's preferences folder somewhere else while it lives;
// the environment and the folder are put back when it goes.
class PrivatePrefsFolder {
public:
    ~PrivatePrefsFolder() { release(); }

    bool make(std::string& error)
    {
        folder_ = TemporaryFolder::makeRunFolder(error);
        if (!folder_) {
            error = "cannot keep this run's settings: " + error;
            return false;
        }
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        setenv("XDG_CONFIG_HOME", folder_->path().c_str(), 1);
        return true;
    }

    void restoreEnvironment()
    {
        if (!folder_) return;
        if (saved_)
            setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    void release()
    {
        if (!folder_) return;
        restoreEnvironment();
        folder_.reset();
    }

private:
    std::unique_ptr<TemporaryFolder> folder_;
    std::optional<std::string> saved_;
};

// Lives until the process ends, as the plug-in does.
PrivatePrefsFolder gRunFolder;

// A preferences file holding config, in the preferences folder of now.
bool writePrefsFile(const pluginDataRec& config)
{
    prefsH record = NewPrefs();
    DefaultPrefs(record);
    const bool made = SavePreferences(record);
    if (record) DisposeHandle(reinterpret_cast<Handle>(record));
    return made && SaveConfig(&config);
}

void warnOnce()
{
    static bool said = false;
    if (said) return;
    said = true;
    const PrefsFileInfo file = InspectPrefsFile();
    if (file.place == PrefsPlace::leftAlone)
        std::cerr << "brimtone: settings are not saved: " << file.why << "; the defaults are in use\n";
}

int fail(const std::string& message)
{
    std::cerr << "brimtone: " << message << "\n";
    return 1;
}

}  // namespace

bool isSettingsOption(const std::string& option)
{
    return option == "--threshold" || option == "--dark" || option == "--light" || option == "--region";
}

const char* settingsOptionHelp(const std::string& option)
{
    // In the style of the host's other options: lower case, range after a colon.
    const auto sentence = [](const EffectParameter& parameter, const std::string& more) {
        std::string text = parameter.help;
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
        return text + more;
    };
    static const std::string threshold = sentence(kThreshold, ": " + thresholdRange());
    static const std::string dark =
        sentence(kEffectParameters[kParamColour1], ": #rrggbb, rrggbb or 0xrrggbb");
    static const std::string light = sentence(kEffectParameters[kParamColour2], "");
    static const std::string region = "where the effect applies: its edges as fractions (" + edgeRange() +
                                      ") of the frame's width and height, as 0.5,0,1,1 for the right half";
    if (option == "--threshold") return threshold.c_str();
    if (option == "--dark") return dark.c_str();
    if (option == "--light") return light.c_str();
    if (option == "--region") return region.c_str();
    return "";
}

std::string parseSettingsOption(const std::string& option, const std::string& value,
                                SettingsOverrides& overrides)
{
    if (option == "--threshold") {
        int percent = -1;
        if (!parseWhole(value, percent) || percent < kThreshold.minimum || percent > kThreshold.maximum)
            return "--threshold needs " + thresholdRange();
        overrides.threshold = percent;
    } else if (option == "--dark" || option == "--light") {
        uint32_t colour = 0;
        if (!parseColour(value, colour)) return option + " needs a colour #rrggbb (or rrggbb, or 0xrrggbb)";
        (option == "--dark" ? overrides.dark : overrides.light) = colour;
    } else if (option == "--region") {
        SettingsOverrides::Region region{};
        if (!parseRegion(value, region))
            return "--region needs LEFT,TOP,RIGHT,BOTTOM: fractions " + edgeRange() +
                   ", LEFT below RIGHT and TOP below BOTTOM";
        overrides.region = region;
    } else {
        return "unknown option " + option;
    }
    return {};
}

bool prepareRunSettings(const SettingsOverrides& overrides, bool dialogWillSave, std::string& error)
{
    TemporaryFolder::removeStaleRunFolders();
    warnOnce();
    if (!overrides.any()) return true;
    if (dialogWillSave) {
        PrefsFileLock lock;
        InitPreferences();
    }
    SettingsInUse in = readSettingsInUse();
    apply(overrides, in.config);
    if (!gRunFolder.make(error)) return false;
    if (!writePrefsFile(in.config)) {
        gRunFolder.release();
        error = "cannot write this run's settings";
        return false;
    }
    return true;
}

void useSavedSettingsFromNow()
{
    gRunFolder.restoreEnvironment();
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string describeSettingsInUse(bool json, int indent)
{
    return describe(readSettingsInUse(), json, indent);
}

int runSettingsCommand(const SettingsOverrides& overrides, bool reset, bool json)
{
    if (overrides.any() || reset) {
        // Read, change and save as one step: a save elsewhere is not undone.
        PrefsFileLock lock;
        const PrefsFileInfo file = InspectPrefsFile();
        if (file.place == PrefsPlace::noFolder || file.place == PrefsPlace::leftAlone)
            return fail("settings are not saved: " + file.why);
        InitPreferences();
        pluginDataRec config{};
        ResetConfig(&config, true);
        if (!reset) ReadConfig(&config);
        apply(overrides, config);
        if (std::string why; !SaveConfig(&config, why)) return fail(why);
        // Saving is what was asked for; showing the result is a courtesy.
        std::cout << describe(readSettingsInUse(), json) << (json ? "\n" : "");
        if (!std::cout.flush() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::cerr << "brimtone: the settings are saved in " << file.path
                      << ", but cannot be shown: cannot write to standard output: " << std::strerror(errno) << "\n";
            std::cout.clear();
            std::clearerr(stdout);
        }
        return 0;
    }
    std::cout << describe(readSettingsInUse(), json) << (json ? "\n" : "");
    return 0;
}

}  // namespace brimtone::host
