#include "brimtone_frei0r.h"

#include "BrimtoneVersion.h"
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "effect/pixelEffect.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

#define BRIMTONE_F0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace brimtone;
using namespace brimtone::frei0r;

// "0.17", "100": the shortest decimal that reads back as value.
std::string Decimal(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

// One instance's settings; nothing else lives between calls.
struct Instance {
    unsigned width = 0;
    unsigned height = 0;
    pluginDataRec config{};  // from the parameters
    bool useSaved = false;
    pluginDataRec saved{};   // read when useSaved is switched on
};

// The table's rows as frei0r describes parameters; a Percent parameter's help
// says how its fraction reads. Built in place once: info points into help.
struct ParamDescriptions {
    std::array<std::string, kParamCount> help;
    std::array<f0r_param_info_t, kParamCount> info;

    ParamDescriptions()
    {
        for (size_t i = 0; i < kParamCount; ++i) {
            const EffectParameter& parameter = kEffectParameters[i];
            help[i] = parameter.help;
            int type = F0R_PARAM_BOOL;
            if (parameter.kind == ParameterKind::Percent) {
                type = F0R_PARAM_DOUBLE;
                help[i] += "; " + Decimal(parameter.minimum / kPercentPerFraction) + ".." +
                           Decimal(parameter.maximum / kPercentPerFraction) + " for " +
                           Decimal(parameter.minimum) + ".." + Decimal(parameter.maximum) + " " + parameter.unit;
            } else if (parameter.kind == ParameterKind::Colour) {
                type = F0R_PARAM_COLOR;
            }
            info[i] = f0r_param_info_t{parameter.name, type, help[i].c_str()};
        }
    }
    ParamDescriptions(const ParamDescriptions&) = delete;
    ParamDescriptions& operator=(const ParamDescriptions&) = delete;
};

const f0r_param_info_t& ParamInfo(int index)
{
    static const ParamDescriptions descriptions;
    return descriptions.info[size_t(index)];
}

// The fraction of a Percent parameter within the table's range.
double ClampFraction(int index, double value)
{
    const EffectParameter& parameter = kEffectParameters[size_t(index)];
    return std::clamp(value, parameter.minimum / kPercentPerFraction, parameter.maximum / kPercentPerFraction);
}

void SetComponent(UInt16& theComponent, float value)
{
    if (std::isnan(value))
        return;
    theComponent = ChannelFromByte(UInt8(std::lround(std::clamp(double(value), 0.0, 1.0) * 255.0)));
}

float ComponentValue(UInt16 theComponent)
{
    return float(ByteFromChannel(theComponent)) / 255.0f;
}

double* RegionField(relRect& theRel, int index)
{
    switch (index) {
    case kParamLeft: return &theRel.left;
    case kParamTop: return &theRel.top;
    case kParamRight: return &theRel.right;
    case kParamBottom: return &theRel.bottom;
    default: return nullptr;
    }
}

}  // namespace

BRIMTONE_F0R_EXPORT int f0r_init()
{
    return 1;
}

BRIMTONE_F0R_EXPORT void f0r_deinit() {}

BRIMTONE_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info)
{
    if (info == nullptr)
        return;
    info->name = cMyPluginName;
    info->author = kEffectName;
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = BRIMTONE_VERSION_MAJOR;
    info->minor_version = BRIMTONE_VERSION_MINOR;
    info->num_params = kParamCount;
    info->explanation = kEffectSummary;
}

BRIMTONE_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index)
{
    if (info == nullptr || param_index < 0 || param_index >= kParamCount)
        return;
    *info = ParamInfo(param_index);
}

BRIMTONE_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height)
{
    if (width == 0 || height == 0 || width > kMaxFrameSide || height > kMaxFrameSide)
        return nullptr;
    try {
        auto* instance = new Instance;
        instance->width = width;
        instance->height = height;
        ResetConfig(&instance->config, true);
        return instance;
    } catch (...) {
        return nullptr;
    }
}

BRIMTONE_F0R_EXPORT void f0r_destruct(f0r_instance_t instance)
{
    delete static_cast<Instance*>(instance);
}

BRIMTONE_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                             int param_index)
{
    auto* self = static_cast<Instance*>(instance);
    if (self == nullptr || param == nullptr)
        return;
    pluginDataRec& config = self->config;
    switch (param_index) {
    case kParamThreshold: {
        const double value = *static_cast<const f0r_param_double*>(param);
        if (!std::isnan(value))
            config.Sliders[kThresholdSlider] =
                SInt16(std::lround(ClampFraction(param_index, value) * kPercentPerFraction));
        break;
    }
    case kParamColour1:
    case kParamColour2: {
        const auto& value = *static_cast<const f0r_param_color_t*>(param);
        RGBColor& colour = config.Colors[param_index == kParamColour1 ? kDarkColor : kLightColor];
        SetComponent(colour.red, value.r);
        SetComponent(colour.green, value.g);
        SetComponent(colour.blue, value.b);
        break;
    }
    case kParamSaved: {
        const bool useSaved = *static_cast<const f0r_param_bool*>(param) >= 0.5;
        if (useSaved && !self->useSaved)
            ReadSavedOverDefaults(self->saved);
        self->useSaved = useSaved;
        break;
    }
    default:
        if (double* field = RegionField(config.StartRel, param_index)) {
            const double value = *static_cast<const f0r_param_double*>(param);
            if (!std::isnan(value))
                *field = ClampFraction(param_index, value);
        }
        break;
    }
}

BRIMTONE_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                             int param_index)
{
    auto* self = static_cast<Instance*>(instance);
    if (self == nullptr || param == nullptr)
        return;
    pluginDataRec& config = self->config;
    switch (param_index) {
    case kParamThreshold:
        *static_cast<f0r_param_double*>(param) = config.Sliders[kThresholdSlider] / kPercentPerFraction;
        break;
    case kParamColour1:
    case kParamColour2: {
        const RGBColor& colour =
            config.Colors[param_index == kParamColour1 ? kDarkColor : kLightColor];
        *static_cast<f0r_param_color_t*>(param) = f0r_param_color_t{
            ComponentValue(colour.red), ComponentValue(colour.green), ComponentValue(colour.blue)};
        break;
    }
    case kParamSaved:
        *static_cast<f0r_param_bool*>(param) = self->useSaved ? 1.0 : 0.0;
        break;
    default:
        if (double* field = RegionField(config.StartRel, param_index))
            *static_cast<f0r_param_double*>(param) = *field;
        break;
    }
}

// Rows are width × 4 bytes apart: the frei0r interface has no row stride.
BRIMTONE_F0R_EXPORT void f0r_update(f0r_instance_t instance, double /*time*/,
                                    const uint32_t* inframe, uint32_t* outframe)
{
    const auto* self = static_cast<const Instance*>(instance);
    if (self == nullptr || inframe == nullptr || outframe == nullptr)
        return;
    const Rect frame{0, 0, SInt16(self->height), SInt16(self->width)};
    const pluginDataRec& config = self->useSaved ? self->saved : self->config;
    const Rect region = Rel2Rect(config.StartRel, frame);
    const auto rowBytes = SInt32(self->width * 4);
    BrimtonePixels(PixelOrder::RGBA, reinterpret_cast<const UInt8*>(inframe), rowBytes,
                   reinterpret_cast<UInt8*>(outframe), rowBytes, frame, region, true, config);
}
