#include "brimtone_frei0r.h"

#include "BrimtoneVersion.h"
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>

#include "effect/pixelEffect.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

#define BRIMTONE_F0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace brimtone::frei0r;

// One instance's settings; nothing else lives between calls.
struct Instance {
    unsigned width = 0;
    unsigned height = 0;
    pluginDataRec config{};  // from the parameters
    bool useSaved = false;
    pluginDataRec saved{};   // read when useSaved is switched on
};

const f0r_param_info_t kParams[kParamCount] = {
    {"threshold", F0R_PARAM_DOUBLE,
     "Brightness (mean of red, green, blue) below which a pixel takes colour 1: 0..1 for 0..100 %"},
    {"colour1", F0R_PARAM_COLOR, "Colour of the pixels darker than the threshold"},
    {"colour2", F0R_PARAM_COLOR, "Colour of the other pixels"},
    {"left", F0R_PARAM_DOUBLE, "Left edge of the region, as a fraction of the width"},
    {"top", F0R_PARAM_DOUBLE, "Top edge of the region, as a fraction of the height"},
    {"right", F0R_PARAM_DOUBLE, "Right edge of the region, as a fraction of the width"},
    {"bottom", F0R_PARAM_DOUBLE, "Bottom edge of the region, as a fraction of the height"},
    {"saved", F0R_PARAM_BOOL, "Use the settings saved by the Brimtone dialog instead of these"},
};

double Clamp01(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

// NaN keeps the old value; everything else is clamped to 0..1 first.
void SetFraction(double& theField, double value)
{
    if (!std::isnan(value))
        theField = Clamp01(value);
}

void SetComponent(UInt16& theComponent, float value)
{
    if (std::isnan(value))
        return;
    const auto byte = UInt16(std::lround(Clamp01(double(value)) * 255.0));
    theComponent = UInt16(byte * 257);
}

float ComponentValue(UInt16 theComponent)
{
    return float(theComponent >> 8) / 255.0f;
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

// The saved configuration lives in a file shared by every instance; the
// toolbox reading it keeps process-wide state, so one reader at a time.
void ReadSavedConfig(pluginDataRec& theConfig)
{
    ResetConfig(&theConfig, true);
    static std::mutex readerLock;
    const std::lock_guard<std::mutex> lock(readerLock);
    ReadConfig(&theConfig);
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
    info->name = "brimtone";
    info->author = "Brimtone";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = BRIMTONE_VERSION_MAJOR;
    info->minor_version = BRIMTONE_VERSION_MINOR;
    info->num_params = kParamCount;
    info->explanation =
        "Two-tone poster inside a region: pixels darker than the threshold take colour 1, "
        "the others colour 2";
}

BRIMTONE_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index)
{
    if (info == nullptr || param_index < 0 || param_index >= kParamCount)
        return;
    *info = kParams[param_index];
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
            config.Sliders[kThresholdSlider] = SInt16(std::lround(Clamp01(value) * 100.0));
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
            ReadSavedConfig(self->saved);
        self->useSaved = useSaved;
        break;
    }
    default:
        if (double* field = RegionField(config.StartRel, param_index))
            SetFraction(*field, *static_cast<const f0r_param_double*>(param));
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
        *static_cast<f0r_param_double*>(param) = config.Sliders[kThresholdSlider] / 100.0;
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
