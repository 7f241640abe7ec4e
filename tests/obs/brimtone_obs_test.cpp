// The OBS filter in Debian's libobs on its OpenGL renderer (Mesa's software
// rasterizer under Xvfb): OBS's image source shows a PNG, our filter is put
// on it, and what OBS renders is read back and compared pixel for pixel with
// the effect's own output of the same picture and settings.
#include "ObsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "effect/pixelEffect.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/EffectParameters.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using namespace brimtone::obs_testing;

namespace {

constexpr char kFilterId[] = "brimtone_filter";

// The filter's settings as a user sets them in OBS: colours as bytes
// 0xRRGGBB, the threshold and the region's edges in percent.
struct Settings {
    int threshold = 17;
    uint32_t dark = 0x0000FF;
    uint32_t light = 0xFFFFFF;
    std::array<double, 4> region{0.0, 0.0, 100.0, 100.0};  // left, top, right, bottom
};

// OBS keeps colours as 0xAABBGGRR.
long long ObsColour(uint32_t rgb)
{
    return 0xFF000000LL | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

obs_data_t* ObsSettings(const Settings& settings)
{
    obs_data_t* data = obs_data_create();
    obs_data_set_int(data, "threshold", settings.threshold);
    obs_data_set_int(data, "colour1", ObsColour(settings.dark));
    obs_data_set_int(data, "colour2", ObsColour(settings.light));
    const char* edges[] = {"left", "top", "right", "bottom"};
    for (size_t i = 0; i < 4; ++i)
        obs_data_set_double(data, edges[i], settings.region[i]);
    return data;
}

RGBColor Colour16(uint32_t rgb)
{
    return RGBColor{UInt16((rgb >> 16 & 0xFF) * 257), UInt16((rgb >> 8 & 0xFF) * 257), UInt16((rgb & 0xFF) * 257)};
}

pluginDataRec Config(const Settings& settings)
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.Sliders[kThresholdSlider] = SInt16(settings.threshold);
    config.Colors[kDarkColor] = Colour16(settings.dark);
    config.Colors[kLightColor] = Colour16(settings.light);
    config.StartRel = SetRelRect(settings.region[0] / 100.0, settings.region[1] / 100.0, settings.region[2] / 100.0,
                                 settings.region[3] / 100.0);
    return config;
}

Rect Frame(const Image& picture)
{
    return Rect{0, 0, SInt16(picture.height), SInt16(picture.width)};
}

// What the effect itself makes of the picture.
Image EffectOf(const Image& picture, const pluginDataRec& config)
{
    Image result = picture;
    const auto rowBytes = SInt32(picture.width * 4);
    BrimtonePixels(PixelOrder::RGBA, picture.rgba.data(), rowBytes, result.rgba.data(), rowBytes, Frame(picture),
                   Rel2Rect(config.StartRel, Frame(picture)), true, config);
    return result;
}

// Pseudo-random opaque colours, and in every row pixels whose mean of red,
// green and blue lies just below, at and just above each given threshold,
// with the sum split over the channels in several ways.
Image TestImage(uint32_t width, uint32_t height, std::initializer_list<int> thresholds)
{
    Image picture{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    std::vector<std::array<uint8_t, 3>> near;
    for (int slider : thresholds) {
        const int t = BrimtoneThreshold(SInt16(slider));
        for (int sum = 3 * t - 2; sum <= 3 * t + 2; ++sum) {
            if (sum < 0 || sum > 765)
                continue;
            const int third = sum / 3;
            const int big = std::min(sum, 255), rest = sum - big;
            near.push_back({uint8_t(third), uint8_t(third), uint8_t(sum - 2 * third)});
            near.push_back({uint8_t(sum - 2 * third), uint8_t(third), uint8_t(third)});
            near.push_back({uint8_t(big), uint8_t(std::min(rest, 255)), uint8_t(rest - std::min(rest, 255))});
        }
    }
    near.push_back({255, 255, 255});
    near.push_back({0, 0, 0});
    uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        uint8_t* pixel = &picture.rgba[i * 4];
        if (next() % 3 == 0) {
            const auto& rgb = near[next() % near.size()];
            std::copy(rgb.begin(), rgb.end(), pixel);
        } else {
            const uint32_t random = next();
            pixel[0] = uint8_t(random), pixel[1] = uint8_t(random >> 8), pixel[2] = uint8_t(random >> 16);
        }
        pixel[3] = 255;
    }
    return picture;
}

// Mismatching pixels, with the first few described.
testing::AssertionResult SamePixels(const Image& got, const Image& want)
{
    if (got.width != want.width || got.height != want.height || got.rgba.size() != want.rgba.size())
        return testing::AssertionFailure() << "got " << got.width << "x" << got.height << " (" << got.rgba.size()
                                           << " bytes), want " << want.width << "x" << want.height;
    size_t mismatches = 0;
    std::ostringstream first;
    for (size_t i = 0; i < want.rgba.size(); i += 4) {
        if (std::equal(&got.rgba[i], &got.rgba[i] + 4, &want.rgba[i]))
            continue;
        if (++mismatches <= 5) {
            first << "\n  (" << i / 4 % want.width << ", " << i / 4 / want.width << "): got";
            for (int c = 0; c < 4; ++c)
                first << " " << int(got.rgba[i + c]);
            first << ", want";
            for (int c = 0; c < 4; ++c)
                first << " " << int(want.rgba[i + c]);
        }
    }
    if (mismatches == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << mismatches << " pixels differ" << first.str();
}

class ObsFilterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (std::system("command -v Xvfb >/dev/null") != 0)
            return;
        session_ = ObsSession::Start(160, 120, why_).release();
    }
    static void TearDownTestSuite()
    {
        delete session_;
        session_ = nullptr;
    }

    // Each test in its own folder, which is also its preferences folder.
    void SetUp() override
    {
        if (session_ == nullptr && why_.empty())
            GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
        ASSERT_NE(session_, nullptr) << why_;
        char pattern[] = "/tmp/brimtone-obs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        ForgetHeldPrefsForTests();
    }
    void TearDown() override
    {
        for (obs_source_t* source : sources_)
            obs_source_release(source);
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // OBS's image source showing the picture as a PNG.
    obs_source_t* Show(const Image& picture)
    {
        const fs::path png = dir_ / ("picture" + std::to_string(sources_.size()) + ".png");
        EXPECT_TRUE(WritePng(picture, png));
        return Keep(ImageSource(png));
    }

    obs_source_t* AddFilter(obs_source_t* source, obs_data_t* settings)
    {
        obs_source_t* filter = Keep(obs_source_create_private(kFilterId, "Brimtone", settings));
        obs_data_release(settings);
        if (source != nullptr && filter != nullptr)
            obs_source_filter_add(source, filter);
        return filter;
    }

    // Properties change as OBS's property view changes them: deferred to
    // the video thread's next tick.
    void Change(obs_source_t* filter, obs_data_t* settings)
    {
        obs_source_update(filter, settings);
        obs_data_release(settings);
        ASSERT_TRUE(session_->WaitForNextFrame());
    }

    obs_source_t* Keep(obs_source_t* source)
    {
        if (source != nullptr)
            sources_.push_back(source);
        return source;
    }

    static ObsSession* session_;
    static std::string why_;
    fs::path dir_;
    std::vector<obs_source_t*> sources_;
};

ObsSession* ObsFilterTest::session_ = nullptr;
std::string ObsFilterTest::why_;

// OBS finds the module in its folder, lists the filter by its name, and
// shows the parameter table's properties in its order, each with the label
// and help that the table gives it, from the module's locale file, and with
// the table's range.
TEST_F(ObsFilterTest, ModuleIsFoundByObsAndShowsTheParameterTable)
{
    EXPECT_EQ(session_->LoadedFrom("brimtone"), BRIMTONE_OBS_MODULE_DIR "/brimtone.so");
    bool listed = false;
    const char* id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
        listed = listed || std::string(id) == kFilterId;
    EXPECT_TRUE(listed);
    EXPECT_STREQ(obs_source_get_display_name(kFilterId), "Brimtone");

    // The names are what scene collections store.
    const std::vector<std::string> names{"threshold", "colour1", "colour2", "left", "top", "right", "bottom", "saved"};
    size_t index = 0;
    obs_properties_t* properties = obs_get_source_properties(kFilterId);
    for (obs_property_t* property = obs_properties_first(properties); property != nullptr;
         obs_property_next(&property), ++index) {
        ASSERT_LT(index, names.size());
        const brimtone::EffectParameter& row = brimtone::kEffectParameters[index];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(obs_property_name(property), names[index]);
        EXPECT_STREQ(obs_property_description(property), row.label);
        EXPECT_STREQ(obs_property_long_description(property), row.help);
        if (obs_property_get_type(property) == OBS_PROPERTY_INT) {
            EXPECT_EQ(obs_property_int_min(property), row.minimum);
            EXPECT_EQ(obs_property_int_max(property), row.maximum);
        } else if (obs_property_get_type(property) == OBS_PROPERTY_FLOAT) {
            EXPECT_EQ(obs_property_float_min(property), row.minimum);
            EXPECT_EQ(obs_property_float_max(property), row.maximum);
            EXPECT_DOUBLE_EQ(obs_property_float_step(property), std::pow(10.0, -row.decimals));
        } else {
            EXPECT_EQ(obs_property_get_type(property),
                      row.kind == brimtone::ParameterKind::Colour ? OBS_PROPERTY_COLOR : OBS_PROPERTY_BOOL);
        }
    }
    obs_properties_destroy(properties);
    EXPECT_EQ(index, names.size());

    for (const std::string& line : session_->Log())
        EXPECT_FALSE(line.starts_with("error:")) << line;
}

// The effect's own arithmetic: pixels whose mean is exactly the threshold
// take the light colour; region edges truncate toward the top-left pixel,
// the top and left edges inside, the right and bottom ones outside; outside
// the region the picture is untouched. On an image source (drawn alone and
// as an item of a scene, where OBS blends in linear light) and on a source
// that delivers frames as a camera does.
TEST_F(ObsFilterTest, RendersThePictureTheEffectRendersPixelForPixel)
{
    const Image picture = TestImage(100, 60, {17, 50, 100});
    obs_source_t* image = Show(picture);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(SamePixels(RenderSource(image), picture)) << "OBS does not show the PNG as it is";
    obs_source_t* camera = Keep(session_->Camera(picture));
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(SamePixels(RenderSource(camera), picture)) << "OBS does not show the camera's frame as it is";
    obs_scene_t* scene = obs_scene_create_private("scene");
    obs_scene_add(scene, image);

    Settings whole;
    Settings between{50, 0x201080, 0xFFE090, {13.4, 7.5, 71.7, 89.3}};  // every edge between two pixels
    Settings truncated{100, 0x000000, 0xFFFFFF, {29.0, 25.0, 50.0, 75.0}};  // 0.29 × 100 is 28.999...
    Settings inverted{0, 0xFF0000, 0x00FF00, {80.0, 10.0, 20.0, 90.0}};
    for (const Settings& settings : {whole, between, truncated, inverted}) {
        SCOPED_TRACE(testing::Message() << "threshold " << settings.threshold << ", region " << settings.region[0]
                                        << " " << settings.region[1] << " " << settings.region[2] << " "
                                        << settings.region[3]);
        const Image want = EffectOf(picture, Config(settings));
        for (obs_source_t* source : {image, camera}) {
            obs_source_t* filter = AddFilter(source, ObsSettings(settings));
            ASSERT_NE(filter, nullptr);
            EXPECT_TRUE(SamePixels(RenderSource(source), want)) << obs_source_get_id(source);
            if (source == image) {
                Image inScene;
                EXPECT_TRUE(SourceReader(picture.width, picture.height).Read(obs_scene_get_source(scene), inScene));
                EXPECT_TRUE(SamePixels(inScene, want)) << "in a scene";
            }
            obs_source_filter_remove(source, filter);
        }
    }
    // The pixels that decide the threshold and the edges were there.
    const Rect region = Rel2Rect(Config(between).StartRel, Frame(picture));
    EXPECT_EQ((std::array{region.left, region.top, region.right, region.bottom}), (std::array<SInt16, 4>{13, 4, 71, 53}));
    EXPECT_EQ(Rel2Rect(Config(truncated).StartRel, Frame(picture)).left, 28);
    size_t atThreshold = 0;
    for (size_t i = 0; i < picture.rgba.size(); i += 4)
        atThreshold += (picture.rgba[i] + picture.rgba[i + 1] + picture.rgba[i + 2]) / 3 == BrimtoneThreshold(50);
    EXPECT_GT(atThreshold, 100u);
    obs_scene_release(scene);
}

// A new filter has the configuration's defaults (17 %, blue, white, the
// whole frame) in OBS's property view and in its picture, whatever the
// dialog saved: a scene renders alike on every machine.
TEST_F(ObsFilterTest, DefaultsAreTheConfigurationsOwnWhateverTheDialogSaved)
{
    InitPreferences();
    const pluginDataRec saved = Config(Settings{60, 0x102030, 0x405060, {10.0, 10.0, 50.0, 50.0}});
    ASSERT_TRUE(SaveConfig(&saved));

    obs_data_t* defaults = obs_get_source_defaults(kFilterId);
    EXPECT_EQ(obs_data_get_int(defaults, "threshold"), 17);
    EXPECT_EQ(obs_data_get_int(defaults, "colour1"), ObsColour(0x0000FF));
    EXPECT_EQ(obs_data_get_int(defaults, "colour2"), ObsColour(0xFFFFFF));
    const std::pair<const char*, double> edges[] = {{"left", 0.0}, {"top", 0.0}, {"right", 100.0}, {"bottom", 100.0}};
    for (const auto& [name, percent] : edges)
        EXPECT_EQ(obs_data_get_double(defaults, name), percent) << name;
    EXPECT_FALSE(obs_data_get_bool(defaults, "saved"));
    obs_data_release(defaults);

    const Image picture = TestImage(64, 48, {17});
    obs_source_t* image = Show(picture);
    ASSERT_NE(AddFilter(image, nullptr), nullptr);
    pluginDataRec config{};
    ResetConfig(&config, true);
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, config)));
}

// "Use the settings saved by the Brimtone dialog" reads them when it is
// switched on, also when a scene is loaded with it on, and keeps them (the
// properties giving way) until it is switched off and on again.
TEST_F(ObsFilterTest, SavedSettingsAreReadWhenSwitchedOnAndKeptUntilSwitchedOnAgain)
{
    InitPreferences();
    const pluginDataRec first = Config(Settings{60, 0x201080, 0xFFE090, {13.4, 7.5, 71.7, 89.3}});
    const pluginDataRec second = Config(Settings{25, 0x00FF00, 0x000000, {0.0, 50.0, 50.0, 100.0}});
    ASSERT_TRUE(SaveConfig(&first));
    const Image picture = TestImage(64, 48, {25, 30, 60});
    const Settings properties{30, 0xFF0000, 0x0000FF, {50.0, 0.0, 100.0, 50.0}};
    obs_source_t* image = Show(picture);
    obs_source_t* filter = AddFilter(image, ObsSettings(properties));
    ASSERT_NE(filter, nullptr);
    const auto saved = [](bool on) {
        obs_data_t* data = obs_data_create();
        obs_data_set_bool(data, "saved", on);
        return data;
    };
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, Config(properties))));

    Change(filter, saved(true));
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, first))) << "switched on";
    ASSERT_TRUE(SaveConfig(&second));
    obs_data_t* threshold = obs_data_create();
    obs_data_set_int(threshold, "threshold", 90);
    Change(filter, threshold);
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, first))) << "read again while on";

    Change(filter, saved(false));
    Settings changed = properties;
    changed.threshold = 90;
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, Config(changed)))) << "switched off";
    Change(filter, saved(true));
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, second))) << "switched on again";

    obs_source_t* loaded = Show(picture);
    ASSERT_NE(AddFilter(loaded, saved(true)), nullptr);
    EXPECT_TRUE(SamePixels(RenderSource(loaded), EffectOf(picture, second))) << "created with the switch on";
}

// A change in the property view reaches the picture on the next frame
// libobs renders.
TEST_F(ObsFilterTest, ChangedPropertiesTakeEffectOnTheNextFrame)
{
    const Image picture = TestImage(64, 48, {17, 80});
    const Settings before;
    const Settings after{80, 0x123456, 0xFEDCBA, {10.0, 20.0, 90.0, 70.0}};
    obs_source_t* image = Show(picture);
    obs_source_t* filter = AddFilter(image, ObsSettings(before));
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, Config(before))));
    Change(filter, ObsSettings(after));
    EXPECT_TRUE(SamePixels(RenderSource(image), EffectOf(picture, Config(after))));
}

}  // namespace
