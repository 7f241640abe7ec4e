// The effect's settings as hosts outside the plug-in show them: the frei0r
// filter (and through it Kdenlive and Shotcut), the OBS filter and the
// brimtone host's per-run settings. One row per parameter: name, kind,
// default, range, unit and help, like an FFmpeg filter's option table.
//
// Plain C++ only (C strings, for C interfaces), so that any host can include
// it without the toolbox. The defaults are ResetConfig's; a test holds the
// two together.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brimtone {

enum class ParameterKind {
    Percent,  // a number shown in percent; frei0r and MLT hold percent / 100
    Colour,   // 0xRRGGBB
    Switch,   // off or on
};

struct EffectParameter {
    const char* name;            // the property's name in frei0r, MLT, Kdenlive, Shotcut and OBS
    const char* label;           // its title in a panel
    ParameterKind kind;
    double defaultValue = 0;     // Percent: in percent; Switch: 0 or 1
    uint32_t defaultColour = 0;  // Colour: 0xRRGGBB
    double minimum = 0;          // Percent: the range, in percent
    double maximum = 1;
    int decimals = 0;            // Percent: 0 where the configuration holds whole percent
    const char* unit = "";
    const char* help = "";
};

// The filters' parameter numbers: frei0r hosts address parameters by them,
// and saved Kdenlive and Shotcut projects by the names in this order.
enum EffectParameterIndex : int {
    kParamThreshold = 0,
    kParamColour1,
    kParamColour2,
    kParamLeft,
    kParamTop,
    kParamRight,
    kParamBottom,
    kParamSaved,
    kParamCount
};

inline constexpr const char* kEffectName = "Brimtone";
inline constexpr const char* kEffectSummary =
    "Two-tone poster inside a region: pixels darker than the threshold take the dark colour, the "
    "others the light colour";

inline constexpr std::array<EffectParameter, kParamCount> kEffectParameters = {{
    {.name = "threshold", .label = "Threshold", .kind = ParameterKind::Percent, .defaultValue = 17,
     .minimum = 0, .maximum = 100, .decimals = 0, .unit = "%",
     .help = "Brightness (the mean of red, green and blue) below which a pixel takes the dark colour"},
    {.name = "colour1", .label = "Dark colour", .kind = ParameterKind::Colour, .defaultColour = 0x0000FF,
     .help = "Colour of the pixels darker than the threshold"},
    {.name = "colour2", .label = "Light colour", .kind = ParameterKind::Colour, .defaultColour = 0xFFFFFF,
     .help = "Colour of the other pixels in the region"},
    {.name = "left", .label = "Region left", .kind = ParameterKind::Percent, .defaultValue = 0,
     .minimum = 0, .maximum = 100, .decimals = 1, .unit = "%",
     .help = "Left edge of the region, from the frame's left edge, in percent of its width"},
    {.name = "top", .label = "Region top", .kind = ParameterKind::Percent, .defaultValue = 0,
     .minimum = 0, .maximum = 100, .decimals = 1, .unit = "%",
     .help = "Top edge of the region, from the frame's top edge, in percent of its height"},
    {.name = "right", .label = "Region right", .kind = ParameterKind::Percent, .defaultValue = 100,
     .minimum = 0, .maximum = 100, .decimals = 1, .unit = "%",
     .help = "Right edge of the region, from the frame's left edge, in percent of its width"},
    {.name = "bottom", .label = "Region bottom", .kind = ParameterKind::Percent, .defaultValue = 100,
     .minimum = 0, .maximum = 100, .decimals = 1, .unit = "%",
     .help = "Bottom edge of the region, from the frame's top edge, in percent of its height"},
    {.name = "saved", .label = "Use the settings saved by the Brimtone dialog", .kind = ParameterKind::Switch,
     .defaultValue = 0,
     .help = "Render with the settings of the dialog's OK instead of these, read when switched on; "
             "they differ from machine to machine"},
}};

constexpr bool ParameterIsNamed(int index, std::string_view name)
{
    return std::string_view(kEffectParameters[size_t(index)].name) == name;
}
static_assert(ParameterIsNamed(kParamThreshold, "threshold") && ParameterIsNamed(kParamColour1, "colour1") &&
                  ParameterIsNamed(kParamColour2, "colour2") && ParameterIsNamed(kParamLeft, "left") &&
                  ParameterIsNamed(kParamTop, "top") && ParameterIsNamed(kParamRight, "right") &&
                  ParameterIsNamed(kParamBottom, "bottom") && ParameterIsNamed(kParamSaved, "saved"),
              "the parameter numbers follow the table");

// frei0r and MLT take a Percent parameter as a fraction: percent / 100.
inline constexpr double kPercentPerFraction = 100;

// A colour channel of 8 bits fills all 16 of the configuration's RGBColor,
// so #ffffff is the defaults' white; reading back keeps the high byte.
constexpr uint16_t ChannelFromByte(uint8_t byte)
{
    return uint16_t(byte * 257);
}

constexpr uint8_t ByteFromChannel(uint16_t channel)
{
    return uint8_t(channel >> 8);
}

}  // namespace brimtone
