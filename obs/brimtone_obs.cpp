// Brimtone as an OBS Studio video filter: the effect's two-tone look inside a
// region of any source, drawn on the GPU by brimtone.effect with the effect's
// own arithmetic. The properties are the effect's parameter table, their
// texts in the module's locale files under the parameters' names; the
// settings come from them, or once from the settings saved by the dialog.
#include <obs-module.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <string>

#include "BrimtoneVersion.h"
#include "effect/pixelEffect.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/EffectParameters.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE("brimtone", "en-US")

namespace {

using namespace brimtone;

// Sources wider or taller than this cannot be described by the effect's
// 16-bit pixel rectangles; the filter lets them through untouched.
constexpr uint32_t kMaxSide = 32767;

const EffectParameter& Parameter(int index)
{
    return kEffectParameters[size_t(index)];
}

struct Filter {
    obs_source_t* context = nullptr;
    gs_effect_t* effect = nullptr;
    gs_eparam_t* size = nullptr;
    gs_eparam_t* region = nullptr;
    gs_eparam_t* darkBelow = nullptr;
    gs_eparam_t* dark = nullptr;
    gs_eparam_t* light = nullptr;

    // Set by update, read by the render thread.
    std::mutex lock;
    pluginDataRec config{};  // from the properties
    bool useSaved = false;
    pluginDataRec saved{};  // read when useSaved is switched on
};

// OBS keeps colours as 0xAABBGGRR, the table as 0xRRGGBB.
long long ObsColour(uint32_t rgb)
{
    return 0xFF000000LL | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

RGBColor ColourFromObs(long long value)
{
    const auto channel = [value](int shift) { return ChannelFromByte(UInt8(value >> shift)); };
    return RGBColor{channel(0), channel(8), channel(16)};
}

struct vec4 ShaderColour(const RGBColor& theColour)
{
    struct vec4 colour;
    vec4_set(&colour, ByteFromChannel(theColour.red) / 255.0f, ByteFromChannel(theColour.green) / 255.0f,
             ByteFromChannel(theColour.blue) / 255.0f, 1.0f);
    return colour;
}

// A Percent parameter within the table's range; NaN gives the default.
double Percent(obs_data_t* settings, int index)
{
    const EffectParameter& parameter = Parameter(index);
    const double value = parameter.decimals == 0 ? double(obs_data_get_int(settings, parameter.name))
                                                 : obs_data_get_double(settings, parameter.name);
    return std::isnan(value) ? parameter.defaultValue : std::clamp(value, parameter.minimum, parameter.maximum);
}

void ReadSettings(pluginDataRec& theConfig, obs_data_t* settings)
{
    ResetConfig(&theConfig, true);
    theConfig.Sliders[kThresholdSlider] = SInt16(Percent(settings, kParamThreshold));
    theConfig.Colors[kDarkColor] = ColourFromObs(obs_data_get_int(settings, Parameter(kParamColour1).name));
    theConfig.Colors[kLightColor] = ColourFromObs(obs_data_get_int(settings, Parameter(kParamColour2).name));
    theConfig.StartRel = SetRelRect(
        Percent(settings, kParamLeft) / kPercentPerFraction, Percent(settings, kParamTop) / kPercentPerFraction,
        Percent(settings, kParamRight) / kPercentPerFraction, Percent(settings, kParamBottom) / kPercentPerFraction);
}

const char* FilterName(void*)
{
    return obs_module_text(kEffectName);
}

void FilterDefaults(obs_data_t* settings)
{
    for (const EffectParameter& parameter : kEffectParameters) {
        switch (parameter.kind) {
        case ParameterKind::Percent:
            if (parameter.decimals == 0)
                obs_data_set_default_int(settings, parameter.name, std::llround(parameter.defaultValue));
            else
                obs_data_set_default_double(settings, parameter.name, parameter.defaultValue);
            break;
        case ParameterKind::Colour:
            obs_data_set_default_int(settings, parameter.name, ObsColour(parameter.defaultColour));
            break;
        case ParameterKind::Switch:
            obs_data_set_default_bool(settings, parameter.name, parameter.defaultValue != 0);
            break;
        }
    }
}

// With the saved settings in use the other properties have no effect.
bool SavedModified(obs_properties_t* props, obs_property_t*, obs_data_t* settings)
{
    const bool editable = !obs_data_get_bool(settings, Parameter(kParamSaved).name);
    for (int index = 0; index < kParamCount; ++index) {
        if (index != kParamSaved)
            obs_property_set_enabled(obs_properties_get(props, Parameter(index).name), editable);
    }
    return true;
}

// The locale file holds each parameter's label under its name, its help
// under the name followed by ".help".
obs_properties_t* FilterProperties(void*)
{
    obs_properties_t* props = obs_properties_create();
    for (const EffectParameter& parameter : kEffectParameters) {
        const char* label = obs_module_text(parameter.name);
        obs_property_t* property = nullptr;
        switch (parameter.kind) {
        case ParameterKind::Percent:
            if (parameter.decimals == 0) {
                property = obs_properties_add_int_slider(props, parameter.name, label, int(parameter.minimum),
                                                         int(parameter.maximum), 1);
                obs_property_int_set_suffix(property, " %");
            } else {
                property = obs_properties_add_float_slider(props, parameter.name, label, parameter.minimum,
                                                           parameter.maximum, std::pow(10.0, -parameter.decimals));
                obs_property_float_set_suffix(property, " %");
            }
            break;
        case ParameterKind::Colour:
            property = obs_properties_add_color(props, parameter.name, label);
            break;
        case ParameterKind::Switch:
            property = obs_properties_add_bool(props, parameter.name, label);
            break;
        }
        const std::string help = std::string(parameter.name) + ".help";
        obs_property_set_long_description(property, obs_module_text(help.c_str()));
    }
    obs_property_set_modified_callback(obs_properties_get(props, Parameter(kParamSaved).name), SavedModified);
    return props;
}

void FilterUpdate(void* data, obs_data_t* settings)
{
    auto* filter = static_cast<Filter*>(data);
    pluginDataRec config{};
    ReadSettings(config, settings);
    const bool useSaved = obs_data_get_bool(settings, Parameter(kParamSaved).name);
    bool wasSaved;
    {
        const std::lock_guard<std::mutex> lock(filter->lock);
        wasSaved = filter->useSaved;
    }
    // Read from the file without holding up the render thread.
    pluginDataRec saved{};
    const bool switchedOn = useSaved && !wasSaved;
    if (switchedOn)
        ReadSavedOverDefaults(saved);
    const std::lock_guard<std::mutex> lock(filter->lock);
    if (switchedOn)
        filter->saved = saved;
    filter->config = config;
    filter->useSaved = useSaved;
}

void FilterDestroy(void* data)
{
    auto* filter = static_cast<Filter*>(data);
    if (filter->effect != nullptr) {
        obs_enter_graphics();
        gs_effect_destroy(filter->effect);
        obs_leave_graphics();
    }
    delete filter;
}

void* FilterCreate(obs_data_t* settings, obs_source_t* context)
{
    auto* filter = new (std::nothrow) Filter;
    if (filter == nullptr)
        return nullptr;
    filter->context = context;
    char* path = obs_module_file("brimtone.effect");
    char* errors = nullptr;
    obs_enter_graphics();
    filter->effect = path != nullptr ? gs_effect_create_from_file(path, &errors) : nullptr;
    if (filter->effect != nullptr) {
        filter->size = gs_effect_get_param_by_name(filter->effect, "size");
        filter->region = gs_effect_get_param_by_name(filter->effect, "region");
        filter->darkBelow = gs_effect_get_param_by_name(filter->effect, "dark_below");
        filter->dark = gs_effect_get_param_by_name(filter->effect, "dark");
        filter->light = gs_effect_get_param_by_name(filter->effect, "light");
    }
    obs_leave_graphics();
    if (filter->effect == nullptr) {
        blog(LOG_ERROR, "[brimtone] cannot load the effect file %s: %s", path != nullptr ? path : "brimtone.effect",
             errors != nullptr ? errors : "not found");
        bfree(errors);
        bfree(path);
        FilterDestroy(filter);
        return nullptr;
    }
    bfree(path);
    FilterUpdate(filter, settings);
    return filter;
}

void FilterRender(void* data, gs_effect_t*)
{
    auto* filter = static_cast<Filter*>(data);
    obs_source_t* target = obs_filter_get_target(filter->context);
    const uint32_t width = obs_source_get_base_width(target);
    const uint32_t height = obs_source_get_base_height(target);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        obs_source_skip_video_filter(filter->context);
        return;
    }
    pluginDataRec config;
    {
        const std::lock_guard<std::mutex> lock(filter->lock);
        config = filter->useSaved ? filter->saved : filter->config;
    }

    // The source drawn into an 8-bit sRGB texture of its own size, so that
    // every output pixel reads exactly one source pixel.
    if (!obs_source_process_filter_begin_with_color_space(filter->context, GS_RGBA, GS_CS_SRGB,
                                                          OBS_NO_DIRECT_RENDERING))
        return;
    const Rect frame{0, 0, SInt16(height), SInt16(width)};
    const Rect region = Rel2Rect(config.StartRel, frame);
    struct vec2 size;
    vec2_set(&size, float(width), float(height));
    struct vec4 pixels;
    vec4_set(&pixels, region.left, region.top, region.right, region.bottom);
    const struct vec4 dark = ShaderColour(config.Colors[kDarkColor]);
    const struct vec4 light = ShaderColour(config.Colors[kLightColor]);
    gs_effect_set_vec2(filter->size, &size);
    gs_effect_set_vec4(filter->region, &pixels);
    gs_effect_set_float(filter->darkBelow, 3.0f * float(BrimtoneThreshold(config.Sliders[kThresholdSlider])));
    gs_effect_set_vec4(filter->dark, &dark);
    gs_effect_set_vec4(filter->light, &light);

    gs_blend_state_push();
    gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
    obs_source_process_filter_end(filter->context, filter->effect, width, height);
    gs_blend_state_pop();
}

enum gs_color_space FilterColourSpace(void*, size_t, const enum gs_color_space*)
{
    return GS_CS_SRGB;
}

}  // namespace

MODULE_EXPORT const char* obs_module_name(void)
{
    return kEffectName;
}

MODULE_EXPORT const char* obs_module_description(void)
{
    return kEffectSummary;
}

bool obs_module_load(void)
{
    struct obs_source_info info = {};
    // Scene collections name the filter by this id: it never changes.
    info.id = "brimtone_filter";
    info.type = OBS_SOURCE_TYPE_FILTER;
    // Not OBS_SOURCE_SRGB: OBS then hands the shader the texture's bytes
    // without sRGB decoding and stores its output without encoding, so the
    // effect compares and writes the 8-bit values themselves.
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = FilterName;
    info.create = FilterCreate;
    info.destroy = FilterDestroy;
    info.get_defaults = FilterDefaults;
    info.get_properties = FilterProperties;
    info.update = FilterUpdate;
    info.video_render = FilterRender;
    info.video_get_color_space = FilterColourSpace;
    obs_register_source(&info);
    blog(LOG_INFO, "[brimtone] version %s", BRIMTONE_VERSION);
    return true;
}
