#include "CommandLine.h"

#include "BrimtoneVersion.h"
#include "OutputFile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <sstream>
#include <strings.h>

namespace brimtone::host {

namespace {

constexpr int kMaxSide = 8192;
constexpr size_t kWidth = 80;

bool parseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && stop == end;
}

// A whole number from `least` up; too large a one is named as such, not as
// something that is no number.
std::string count(const std::string& value, int& out, const char* name, int least = 0)
{
    const char* end = value.data() + value.size();
    const auto [stop, ec] = std::from_chars(value.data(), end, out);
    const std::string range = " from " + std::to_string(least) + " to " + std::to_string(INT_MAX);
    if (ec == std::errc::result_out_of_range && stop == end && value[0] != '-')
        return std::string(name) + " " + value + " is too large: it takes a whole number" + range;
    if (ec != std::errc() || stop != end || out < least)
        return std::string(name) + " needs a whole number" + range;
    return {};
}

std::string setOutput(Options& o, const std::string& v)
{
    if (v.empty()) return "-o needs a file name";
    o.output = v;
    return {};
}

// A picture's name: whatever it holds, the file is a PNG.
std::string setPicture(std::string& picture, const char* option, const std::string& v)
{
    if (!endsWithPng(v)) return std::string(option) + " writes a PNG picture: give a name ending in .png";
    picture = v;
    return {};
}

std::string setPlugin(Options& o, const std::string& v)
{
    if (v.empty()) return "--plugin needs a bundle";
    o.plugin = v;
    return {};
}

std::string setAt(Options& o, const std::string& v)
{
    int n = 0;
    std::string error = count(v, n, "--at");
    o.at = n;
    return error;
}

std::string setSize(Options& o, const std::string& v)
{
    const auto x = v.find('x');
    if (x == std::string::npos || !parseInt(v.substr(0, x), o.width) || !parseInt(v.substr(x + 1), o.height) ||
        o.width <= 0 || o.height <= 0 || o.width > kMaxSide || o.height > kMaxSide)
        return "--size needs WIDTHxHEIGHT, each from 1 to " + std::to_string(kMaxSide);
    return {};
}

std::string setYes(Options& o, const std::string&)
{
    if (o.replace == Replace::Never) return "-y and -n contradict each other";
    o.replace = Replace::Always;
    return {};
}

std::string setNo(Options& o, const std::string&)
{
    if (o.replace == Replace::Always) return "-y and -n contradict each other";
    o.replace = Replace::Never;
    return {};
}

std::string setTime(int64_t& into, const std::string& v, const char* name)
{
    if (!parseTime(v, into))
        return std::string(name) + " needs a time: seconds (12.5) or [[hh:]mm:]ss[.frac] (1:02.5)";
    return {};
}

std::string setText(std::string& into, const std::string& v, const char* name)
{
    if (v.empty()) return std::string(name) + " needs a value";
    into = v;
    return {};
}

constexpr const char* kResetAlone = "--reset saves the defaults: it takes no other settings";

std::string setSetting(Options& o, const char* name, const std::string& v)
{
    if (o.reset) return kResetAlone;
    return parseSettingsOption(name, v, o.settings);
}

const Option kThreshold{nullptr, "--threshold", "PERCENT", settingsOptionHelp("--threshold"),
                        [](Options& o, const std::string& v) { return setSetting(o, "--threshold", v); }};
const Option kDark{nullptr, "--dark", "COLOUR", settingsOptionHelp("--dark"),
                   [](Options& o, const std::string& v) { return setSetting(o, "--dark", v); }};
const Option kLight{nullptr, "--light", "COLOUR", settingsOptionHelp("--light"),
                    [](Options& o, const std::string& v) { return setSetting(o, "--light", v); }};
const Option kRegion{nullptr, "--region", "LEFT,TOP,RIGHT,BOTTOM", settingsOptionHelp("--region"),
                     [](Options& o, const std::string& v) { return setSetting(o, "--region", v); }};

const Option kYes{"-y", nullptr, nullptr, "replace the output if it exists, without asking", setYes};
const Option kNo{"-n", nullptr, nullptr, "never replace an existing output: stop instead", setNo};
const Option kPlugin{nullptr, "--plugin", "BUNDLE",
                     "load the effect from BUNDLE (a Brimtone.bundle folder) instead of the one installed "
                     "with brimtone",
                     setPlugin};
const Option kSize{nullptr, "--size", "WxH",
                   "the frame size in pixels; the picture is stretched to it, whatever its shape, "
                   "and the output's pixel shape is set so that players show it at its own shape "
                   "(video needs an even width and height)",
                   setSize};
const Option kPictureSize{nullptr, "--size", "WxH",
                          "the picture's size in pixels; the frame is stretched to it, whatever its shape, "
                          "and the picture's pixel shape is set so that viewers show it at its own shape",
                          setSize};
const Option kJson{nullptr, "--json", nullptr, "print it all as JSON, for scripts",
                   [](Options& o, const std::string&) {
                       o.json = true;
                       return std::string();
                   }};
const Option kVerbose{"-v", "--verbose", nullptr, "show FFmpeg's own warnings and errors as well as brimtone's",
                      [](Options& o, const std::string&) {
                          o.verbose = true;
                          return std::string();
                      }};

std::vector<Command> makeCommands()
{
    return {
        {"render", "[INPUT]", "render a clip through the effect into a video file or PNG frames",
         "Renders INPUT (any file FFmpeg reads, or '-' for standard input; without it the built-in test clip) "
         "through the effect with your saved settings, or those given here for this run only (the saved ones "
         "stay as they are). The output is written into a temporary folder beside it and takes its name only "
         "once the render has finished, so an old output stays whole until then; the input is never written "
         "over. Ctrl-C stops early and keeps a shorter, playable output; a second Ctrl-C abandons it.",
         {
             {"-o", "--output", "OUTPUT",
              "the file to write: a video (.mp4, .mkv, .mov, .webm, .avi, .nut) that keeps every other stream, "
              "tag and chapter of INPUT, '-' for standard output, or PNG frames, lossless and numbered from 1, "
              "for a .png name with one frame number such as frames/%05d.png (%% for a percent sign); any other "
              "name is one file; brimtone-demo.mp4 when not given",
              setOutput},
             kYes,
             kNo,
             {nullptr, "--fade-in", "N", "fade the effect in over the clip's first N frames (frames, not seconds)",
              [](Options& o, const std::string& v) { return count(v, o.fadeIn, "--fade-in"); }},
             {nullptr, "--fade-out", "N", "fade the effect out over the clip's last N frames",
              [](Options& o, const std::string& v) { return count(v, o.fadeOut, "--fade-out"); }},
             {nullptr, "--frames", "N",
              "render the first N frames only; the built-in clip is N frames long (150 when not given)",
              [](Options& o, const std::string& v) {
                  int n = 0;
                  std::string error = count(v, n, "--frames", 1);
                  o.frames = n;
                  return error;
              }},
             {nullptr, "--from", "TIME",
              "start the clip at TIME of the input (seconds such as 12.5, or [[hh:]mm:]ss[.frac]): exact to "
              "the frame, the sound cut to match; fades count from here",
              [](Options& o, const std::string& v) { return setTime(o.from, v, "--from"); }},
             {nullptr, "--to", "TIME", "end the clip before the frame shown at TIME of the input",
              [](Options& o, const std::string& v) { return setTime(o.to, v, "--to"); }},
             kSize,
             {nullptr, "--proxy", nullptr,
              "render as the editor's quick preview does: fast, rough scaling of the source for frames of "
              "259 lines or fewer, and no sound track (a quick render passes no sound)",
              [](Options& o, const std::string&) {
                  o.proxy = true;
                  return std::string();
              }},
             {nullptr, "--video-codec", "NAME",
              "the video encoder: any of FFmpeg's, such as libx264 (the default), libx265, prores_ks, dnxhd, "
              "ffv1, libvpx-vp9, libaom-av1, libsvtav1",
              [](Options& o, const std::string& v) { return setText(o.encoding.videoCodec, v, "--video-codec"); }},
             {nullptr, "--crf", "N", "the encoder's constant quality (lower is better; 18 by default for H.264)",
              [](Options& o, const std::string& v) {
                  int n = 0;
                  std::string error = count(v, n, "--crf");
                  o.encoding.crf = n;
                  return error;
              }},
             {nullptr, "--preset", "NAME", "the encoder's speed preset, such as veryfast or slow",
              [](Options& o, const std::string& v) { return setText(o.encoding.preset, v, "--preset"); }},
             {nullptr, "--bitrate", "RATE", "a video bit rate such as 5M or 800k instead of constant quality",
              [](Options& o, const std::string& v) { return setText(o.encoding.bitrate, v, "--bitrate"); }},
             {nullptr, "--audio-codec", "NAME",
              "convert every sound track with this encoder (such as aac, libopus, flac); copy: keep the "
              "packets as they are, or fail when the container cannot hold them. By default sound is copied "
              "where the container takes it and converted where it does not",
              [](Options& o, const std::string& v) { return setText(o.encoding.audioCodec, v, "--audio-codec"); }},
             {nullptr, "--format", "NAME",
              "the container, as FFmpeg names it (mp4, matroska, mov, webm, avi, nut), whatever OUTPUT's "
              "extension; standard output is Matroska unless this says otherwise",
              [](Options& o, const std::string& v) { return setText(o.encoding.format, v, "--format"); }},
             kThreshold,
             kDark,
             kLight,
             kRegion,
             {"-q", "--quiet", nullptr, "show no progress; errors are still shown",
              [](Options& o, const std::string&) {
                  o.quiet = true;
                  return std::string();
              }},
             kVerbose,
             kPlugin,
         }},
        {"thumbnail", "[INPUT]", "render one frame through the effect into a PNG picture",
         "Renders one frame of INPUT (without it the built-in test clip) through the effect, as the editor "
         "makes its placeholder picture, into a PNG file, with your saved settings or those given here for "
         "this run only.",
         {
             {"-o", "--output", "PNG", "the PNG file to write: one picture, whatever its name",
              [](Options& o, const std::string& v) { return setPicture(o.output, "-o", v); }, true},
             kYes,
             kNo,
             {nullptr, "--at", "FRAME", "the frame to render, counted from 0 (default 0)", setAt},
             kPictureSize,
             kThreshold,
             kDark,
             kLight,
             kRegion,
             kVerbose,
             kPlugin,
         }},
        {"configure", "[INPUT]", "open the effect's settings dialog on a frame of a clip",
         "Shows a frame of INPUT (without it the built-in test clip) through the effect, as the editor's "
         "viewer does, then presses the effect's button: the settings dialog opens on that frame. OK saves "
         "the settings for every later render; Cancel leaves them as they were. Settings given here are the "
         "dialog's starting values. Needs a display unless --screenshot is given. With --screenshot, "
         "BRIMTONE_SCREENSHOT_CLICK=COMMAND in the environment first presses the dialog's button of that "
         "command (Info: About) and takes the window it opens.",
         {
             {nullptr, "--at", "FRAME", "the frame the dialog opens on, counted from 0 (default 0)", setAt},
             {nullptr, "--screenshot", "PNG",
              "write a picture of the dialog once it is up, then close it as Cancel does (works without a "
              "display); an existing picture is replaced as for any output",
              [](Options& o, const std::string& v) { return setPicture(o.screenshot, "--screenshot", v); }},
             kYes,
             kNo,
             kThreshold,
             kDark,
             kLight,
             kRegion,
             kVerbose,
             kPlugin,
         }},
        {"settings", "", "show the effect's saved settings, or change them",
         "Without options, prints the saved settings (threshold, colours, region, format) and the file "
         "they are in, or why the defaults are in use. With options, changes those settings and saves them "
         "as the dialog's OK does; --reset saves the defaults.",
         {
             kThreshold,
             kDark,
             kLight,
             kRegion,
             {nullptr, "--reset", nullptr, "save the defaults: threshold 17 %, blue and white, the whole frame",
              [](Options& o, const std::string&) {
                  if (o.settings.any()) return std::string(kResetAlone);
                  o.reset = true;
                  return std::string();
              }},
             kJson,
             kPlugin,
         }},
        {"info", "[INPUT]", "show what the effect tells the editor, and what a render of INPUT keeps",
         "Loads the effect and prints what it tells the editor: its group, the host's sliders, the "
         "button's title, its flags and the memory it asks for; then the settings it starts on and where "
         "they come from. With INPUT, also what a render of it into OUTPUT's container keeps: each stream "
         "copied, converted or left out, and why.",
         {
             {"-o", "--output", "OUTPUT", "the output to plan for (default: an .mp4 file)", setOutput},
             {nullptr, "--audio-codec", "NAME", "as for render",
              [](Options& o, const std::string& v) { return setText(o.encoding.audioCodec, v, "--audio-codec"); }},
             {nullptr, "--format", "NAME", "as for render",
              [](Options& o, const std::string& v) { return setText(o.encoding.format, v, "--format"); }},
             kJson,
             kPlugin,
         }},
    };
}

// `words` on lines of at most kWidth columns; the first goes on at column
// `column`, each following line starts with `indent` spaces.
std::string wrapWords(const std::vector<std::string>& words, size_t indent, size_t column)
{
    std::string out;
    bool started = false;
    for (const std::string& word : words) {
        const size_t needed = word.size() + (started ? 1 : 0);
        if (column + needed > kWidth && column > indent) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
            started = false;
        }
        if (started) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        started = true;
    }
    return out;
}

std::string wrap(const std::string& text, size_t indent, size_t column)
{
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return wrapWords(words, indent, column);
}

std::string usageLine(const Command& command)
{
    std::string line = std::string("usage: brimtone ") + command.name;
    if (*command.operands) line += std::string(" ") + command.operands;
    std::vector<std::string> pieces;
    for (const Option& option : command.options) {
        const std::string words = std::string(option.shortName ? option.shortName : option.longName) +
                                  (option.argument ? std::string(" ") + option.argument : "");
        pieces.push_back(option.required ? words : "[" + words + "]");
    }
    return line + " " + wrapWords(pieces, line.size() + 1, line.size() + 1) + "\n";
}

size_t distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The closest of `names` to a misspelt or shortened `word`, or empty when
// none is close.
std::string closest(const std::string& word, const std::vector<std::string>& names)
{
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& name : names) {
        const size_t d = name.rfind(word, 0) == 0 ? 1 : distance(word, name);
        if (d < bestDistance) bestDistance = d, best = name;
    }
    return best;
}

Parsed usageError(const std::string& message, const Command* command)
{
    Parsed parsed;
    parsed.action = Parsed::Action::UsageError;
    parsed.text = "brimtone: " + message + "\n";
    if (command)
        parsed.text += usageLine(*command) + "Try 'brimtone " + command->name + " --help' for more.\n";
    else
        parsed.text += "Try 'brimtone --help' for more.\n";
    return parsed;
}

Parsed show(std::string text)
{
    Parsed parsed;
    parsed.action = Parsed::Action::Show;
    parsed.text = std::move(text);
    return parsed;
}

const Option* findOption(const Command& command, const std::string& name)
{
    for (const Option& option : command.options)
        if ((option.shortName && name == option.shortName) || (option.longName && name == option.longName))
            return &option;
    return nullptr;
}

// Why `name` is not an option of `command`, for the user.
std::string unknownOption(const Command& command, const std::string& name)
{
    for (const Command& other : commands())
        if (&other != &command && findOption(other, name))
            return std::string(command.name) + " does not take " + name;
    std::vector<std::string> names;
    for (const Option& option : command.options)
        if (option.longName) names.push_back(option.longName);
    const std::string suggestion = closest(name, names);
    return "unknown option " + name + (suggestion.empty() ? "" : "; did you mean " + suggestion + "?");
}

}  // namespace

bool parseTime(const std::string& text, int64_t& microseconds)
{
    if (text.empty() || text.size() > 40) return false;
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() > 3) return false;
    int64_t whole = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        int n = 0;
        if (!parseInt(parts[i], n) || n < 0 || (i > 0 && n >= 60) || parts[i].empty()) return false;
        whole = whole * 60 + n;
    }
    const std::string& last = parts.back();
    const size_t dot = last.find('.');
    const std::string seconds = last.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : last.substr(dot + 1);
    int s = 0;
    if (seconds.empty() || !parseInt(seconds, s) || s < 0 || (parts.size() > 1 && s >= 60)) return false;
    if (dot != std::string::npos && (fraction.empty() || fraction.size() > 9 ||
                                     fraction.find_first_not_of("0123456789") != std::string::npos))
        return false;
    if (whole > (INT64_MAX / 1000000 - s) / 60 / 60) return false;
    int64_t micro = 0;
    for (size_t i = 0; i < 6; ++i) micro = micro * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    microseconds = (whole * 60 + s) * 1000000 + micro;
    return true;
}

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = makeCommands();
    return table;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& command : commands())
        if (name == command.name) return &command;
    return nullptr;
}

std::string versionText()
{
    return std::string("brimtone ") + BRIMTONE_VERSION + "\n";
}

std::string generalHelp()
{
    std::string text = wrap("brimtone runs the Brimtone two-tone video effect on real video, as a video editor "
                            "runs its plug-in.",
                            0, 0) +
                       "\n\nusage: brimtone COMMAND [INPUT] [OPTIONS]\n\ncommands:\n";
    for (const Command& command : commands()) {
        std::string name = std::string("  ") + command.name;
        name.resize(std::max<size_t>(name.size() + 2, 13), ' ');
        text += name + wrap(command.summary, 13, name.size()) + "\n";
    }
    text += "\n" + wrap("Without INPUT the built-in test clip (a moving colour pattern with a tone) is used. "
                        "'brimtone COMMAND --help' explains a command and its options; 'brimtone --version' "
                        "shows the version.",
                        0, 0) +
            "\n";
    return text;
}

std::string commandHelp(const Command& command)
{
    std::string text = usageLine(command) + "\n" + wrap(command.details, 0, 0) + "\n\noptions:\n";
    const auto entry = [&text](const std::string& names, const char* help) {
        std::string left = "  " + names;
        left.resize(std::max<size_t>(left.size() + 2, 24), ' ');
        text += left + wrap(help, 24, left.size()) + "\n";
    };
    for (const Option& option : command.options) {
        std::string names = option.shortName ? option.shortName : "";
        if (option.longName) names += std::string(names.empty() ? "" : ", ") + option.longName;
        if (option.argument) names += std::string(" ") + option.argument;
        entry(names, option.help);
    }
    entry("-h, --help", "show this help");
    return text;
}

Parsed parseCommandLine(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) return usageError("no command given", nullptr);
    const std::string& first = arguments[0];
    if (first == "--help" || first == "-h" || first == "help") {
        if (arguments.size() < 2) return show(generalHelp());
        const Command* command = findCommand(arguments[1]);
        if (!command) return usageError("unknown command '" + arguments[1] + "'", nullptr);
        return show(commandHelp(*command));
    }
    if (first == "--version") {
        if (arguments.size() > 1) return usageError("--version takes nothing after it", nullptr);
        return show(versionText());
    }
    const Command* command = findCommand(first);
    if (!command) {
        if (!first.empty() && first[0] == '-')
            return usageError("unknown option " + first + "; options come after the command", nullptr);
        std::vector<std::string> names;
        for (const Command& c : commands()) names.push_back(c.name);
        const std::string suggestion = closest(first, names);
        return usageError("unknown command '" + first + "'" +
                              (suggestion.empty() ? "" : "; did you mean '" + suggestion + "'?"),
                          nullptr);
    }

    Parsed parsed;
    Options& options = parsed.options;
    options.command = command->name;
    bool operandsOnly = false;
    std::vector<const Option*> given;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        if (!operandsOnly && arg == "--") {
            operandsOnly = true;
            continue;
        }
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            if (!*command->operands) return usageError(std::string(command->name) + " takes no INPUT", command);
            if (!options.input.empty())
                return usageError("more than one input: " + options.input + " and " + arg, command);
            options.input = arg;
            continue;
        }
        if (arg == "-h" || arg == "--help") return show(commandHelp(*command));
        std::optional<std::string> attached;
        if (const size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            attached = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const Option* option = findOption(*command, arg);
        if (!option) return usageError(unknownOption(*command, arg), command);
        std::string value;
        if (option->argument) {
            if (attached) {
                value = *attached;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                return usageError(arg + " needs " + option->argument, command);
            }
        } else if (attached) {
            return usageError(arg + " takes no value", command);
        }
        if (std::string error = option->apply(options, value); !error.empty()) return usageError(error, command);
        given.push_back(option);
    }
    for (const Option& option : command->options)
        if (option.required && std::find(given.begin(), given.end(), &option) == given.end())
            return usageError(std::string(command->name) + " needs " +
                                  (option.shortName ? option.shortName : option.longName) + " " + option.argument,
                              command);
    return parsed;
}

}  // namespace brimtone::host
