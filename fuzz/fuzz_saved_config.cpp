// Any bytes as the saved configuration's resource data: no read past the
// block, and a record taken in has finite regions and survives a round trip.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "FuzzSupport.h"
#include "MacMemory.h"
#include "storage/prefsloader.h"

namespace {

void FillPattern(pluginDataRec& theConfig)
{
    std::memset(&theConfig, 0x5A, sizeof theConfig);
    theConfig.TheOriginalImage = nullptr;
    theConfig.TheRendered = nullptr;
    theConfig.StartRel = {0.1, 0.9, 0.2, 0.8};
    theConfig.EndRel = {0.0, 1.0, 0.0, 1.0};
}

bool SameBytes(const void* a, const void* b, size_t n)
{
    return std::memcmp(a, b, n) == 0;
}

bool Finite(const relRect& r)
{
    return std::isfinite(r.left) && std::isfinite(r.right) && std::isfinite(r.top) &&
           std::isfinite(r.bottom);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A handle of exactly the input's size, so that ASan sees any read past it.
    Handle block = NewHandle(Size(size));
    FUZZ_CHECK(block != nullptr);
    if (size > 0)
        std::memcpy(*block, data, size);

    pluginDataRec config;
    FillPattern(config);
    pluginDataRec before;
    std::memcpy(&before, &config, sizeof config);
    const bool taken = Save2Config(&config, reinterpret_cast<configSaveH>(block));
    if (!taken) {
        FUZZ_CHECK(SameBytes(&config, &before, sizeof config));
    } else {
        FUZZ_CHECK(size >= sizeof(configsaverec));
        FUZZ_CHECK(Finite(config.StartRel) && Finite(config.EndRel));
        configsaverec record;
        std::memcpy(&record, data, sizeof record);
        FUZZ_CHECK(SameBytes(&config.StartRel, &record.StartRel, sizeof(relRect)));
        FUZZ_CHECK(SameBytes(&config.EndRel, &record.EndRel, sizeof(relRect)));
        FUZZ_CHECK(SameBytes(config.Colors, record.Colors, sizeof record.Colors));
        // The threshold is read into the slider's range; the others as stored.
        SInt16 sliders[std::size(record.Sliders)];
        std::memcpy(sliders, record.Sliders, sizeof sliders);
        sliders[kThresholdSlider] = std::clamp<SInt16>(sliders[kThresholdSlider], 0, 100);
        FUZZ_CHECK(SameBytes(config.Sliders, sliders, sizeof sliders));
        FUZZ_CHECK(config.MediaType == record.MediaType);
        // Fields that are not saved stay as they were.
        FUZZ_CHECK(config.Sync == before.Sync && config.Outside == before.Outside &&
                   config.ClipActive == before.ClipActive);
        FUZZ_CHECK(config.TheOriginalImage == nullptr && config.TheRendered == nullptr);

        Handle out = NewHandleClear(Size(sizeof(configsaverec)));
        FUZZ_CHECK(out != nullptr);
        FUZZ_CHECK(Config2Save(&config, reinterpret_cast<configSaveH>(out)));
        pluginDataRec again;
        FillPattern(again);
        FUZZ_CHECK(Save2Config(&again, reinterpret_cast<configSaveH>(out)));
        FUZZ_CHECK(SameBytes(&again.StartRel, &config.StartRel, 2 * sizeof(relRect)));
        FUZZ_CHECK(SameBytes(again.Colors, config.Colors, sizeof config.Colors));
        FUZZ_CHECK(SameBytes(again.Sliders, config.Sliders, sizeof config.Sliders));
        FUZZ_CHECK(again.KeepProps == config.KeepProps && again.TwoColors == config.TwoColors);
        DisposeHandle(out);
    }
    DisposeHandle(block);
    return 0;
}
