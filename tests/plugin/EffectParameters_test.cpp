#include "plugin/EffectParameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"

namespace {

using namespace brimtone;

RGBColor ColourOf(uint32_t rgb)
{
    return RGBColor{ChannelFromByte(uint8_t(rgb >> 16)), ChannelFromByte(uint8_t(rgb >> 8)),
                    ChannelFromByte(uint8_t(rgb))};
}

// Editors and OBS start a new filter on the table's defaults, the plug-in on
// ResetConfig's: a project must look the same in both.
TEST(EffectParameters, DefaultsAreTheConfigurationsReset)
{
    pluginDataRec config;
    std::memset(&config, 0x5A, sizeof config);
    ResetConfig(&config, true);
    EXPECT_EQ(kEffectParameters[kParamThreshold].defaultValue, config.Sliders[kThresholdSlider]);
    for (const auto& [index, colour] : {std::pair{kParamColour1, config.Colors[kDarkColor]},
                                        std::pair{kParamColour2, config.Colors[kLightColor]}}) {
        const RGBColor table = ColourOf(kEffectParameters[size_t(index)].defaultColour);
        EXPECT_EQ(std::memcmp(&table, &colour, sizeof colour), 0) << kEffectParameters[size_t(index)].name;
    }
    for (const auto& [index, edge] : {std::pair{kParamLeft, config.StartRel.left},
                                      {kParamTop, config.StartRel.top},
                                      {kParamRight, config.StartRel.right},
                                      {kParamBottom, config.StartRel.bottom}})
        EXPECT_EQ(kEffectParameters[size_t(index)].defaultValue / kPercentPerFraction, edge)
            << kEffectParameters[size_t(index)].name;
    EXPECT_EQ(kEffectParameters[kParamSaved].defaultValue, 0) << "a project renders alike on every machine";
}

// What every host builds its controls from: distinct names, a label and help
// for each, numbers whose default lies in their range.
TEST(EffectParameters, EveryRowDescribesAControlAHostCanShow)
{
    std::set<std::string> names;
    for (const EffectParameter& parameter : kEffectParameters) {
        SCOPED_TRACE(parameter.name);
        EXPECT_TRUE(names.insert(parameter.name).second) << "named twice";
        EXPECT_NE(std::string(parameter.label), "");
        EXPECT_NE(std::string(parameter.help), "");
        EXPECT_LT(parameter.minimum, parameter.maximum);
        EXPECT_GE(parameter.defaultValue, parameter.minimum);
        EXPECT_LE(parameter.defaultValue, parameter.maximum);
        if (parameter.kind == ParameterKind::Percent) {
            EXPECT_EQ(std::string(parameter.unit), "%");
        }
    }
    for (uint8_t byte : {0, 1, 0x80, 0xFF})
        EXPECT_EQ(ByteFromChannel(ChannelFromByte(byte)), byte);
    EXPECT_EQ(ChannelFromByte(0xFF), 0xFFFF);
}

}  // namespace
