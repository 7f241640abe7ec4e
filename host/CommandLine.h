// The host's command line: one table of options per command, each option's
// help text beside it, so that usage lines, `COMMAND --help` and the checks of
// what a command takes all come from the same place.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "EffectSettings.h"
#include "media/Encoding.h"

namespace brimtone::host {

// What to do when the output exists: ask on a terminal, -y, -n.
enum class Replace { Ask, Always, Never };

struct Options {
    std::string command;
    std::string input;
    std::string output;
    std::string plugin;
    std::string screenshot;
    int fadeIn = 0;
    int fadeOut = 0;
    std::optional<int> frames;
    std::optional<int> at;
    int width = 0;
    int height = 0;
    bool proxy = false;
    bool quiet = false;
    bool verbose = false;
    Replace replace = Replace::Ask;
    SettingsOverrides settings;
    bool reset = false;
    Encoding encoding;
    // The part to render, in microseconds from the input's start; 0: its ends.
    int64_t from = 0;
    int64_t to = 0;
    bool json = false;
};

// A time as seconds (12.5) or [[hh:]mm:]ss[.frac], in microseconds; false
// when the text is neither.
bool parseTime(const std::string& text, int64_t& microseconds);

struct Option {
    const char* shortName;  // "-o", or nullptr
    const char* longName;   // "--output", or nullptr
    const char* argument;   // "OUTPUT", or nullptr for a switch
    const char* help;
    // Stores the value (empty for a switch); returns an error text, empty when good.
    std::string (*apply)(Options& options, const std::string& value);
    bool required = false;  // a usage error when not given; shown without brackets
};

struct Command {
    const char* name;
    const char* operands;  // "[INPUT]", or "" when the command takes none
    const char* summary;   // one line for `brimtone --help`
    const char* details;   // what `brimtone COMMAND --help` says before the options
    std::vector<Option> options;
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// What the arguments ask for.
struct Parsed {
    enum class Action { Run, Show, UsageError } action = Action::Run;
    Options options;   // for Run
    std::string text;  // for Show (standard output) and UsageError (standard error)
};

Parsed parseCommandLine(const std::vector<std::string>& arguments);

std::string generalHelp();
std::string commandHelp(const Command& command);
std::string versionText();

}  // namespace brimtone::host
