// Any bytes as the preferences file, then the start-up's reads and saves:
// nothing may crash or leak, a failed read leaves the record alone, and
// whatever was saved reads back.
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "MacMemory.h"
#include "Resources.h"
#include "storage/prefsloader.h"

namespace {

std::string gPrefsPath;

// A record with a value in every saved field, so that a read must change it.
void FillPattern(pluginDataRec& theConfig, int seed)
{
    std::memset(&theConfig, 0, sizeof theConfig);
    theConfig.StartRel = {0.125 * seed, 0.75, 0.25, 0.5};
    theConfig.EndRel = {0.0, 1.0, 0.0, 1.0};
    for (int i = 0; i < cNumSliders; ++i)
        theConfig.Sliders[i] = SInt16(seed * 10 + i);
    for (int i = 0; i < cNumColors; ++i)
        theConfig.Colors[i] = RGBColor{UInt16(seed + i), UInt16(0x1234 + i), UInt16(0xFEDC - i)};
    theConfig.FrameStartColor = {1, 2, 3};
    theConfig.FrameEndColor = {4, 5, 6};
    theConfig.MediaType = SInt16(seed);
    theConfig.KeepProps = true;
    theConfig.TwoColors = false;
    theConfig.Sync = true;
}

bool SameRel(const relRect& a, const relRect& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The nine fields that the saved configuration carries, bit for bit.
bool SameSavedFields(const pluginDataRec& a, const pluginDataRec& b)
{
    return SameRel(a.StartRel, b.StartRel) && SameRel(a.EndRel, b.EndRel) &&
           std::memcmp(a.Colors, b.Colors, sizeof a.Colors) == 0 &&
           std::memcmp(a.Sliders, b.Sliders, sizeof a.Sliders) == 0 &&
           std::memcmp(&a.FrameStartColor, &b.FrameStartColor, sizeof(RGBColor)) == 0 &&
           std::memcmp(&a.FrameEndColor, &b.FrameEndColor, sizeof(RGBColor)) == 0 &&
           a.MediaType == b.MediaType && a.KeepProps == b.KeepProps && a.TwoColors == b.TwoColors;
}

bool Finite(const relRect& r)
{
    return std::isfinite(r.left) && std::isfinite(r.right) && std::isfinite(r.top) &&
           std::isfinite(r.bottom);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    gPrefsPath = MakePrivatePrefsFolder() + "/kavlo-Prefs";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_CHECK(WriteWholeFile(gPrefsPath, data, size));
    const SInt16 curRes = CurResFile();

    prefsH prefs = nullptr;
    const bool prefsRead = ReadPreferences(prefs);
    FUZZ_CHECK(prefsRead == (prefs != nullptr));
    if (prefsRead) {
        FUZZ_CHECK(GetHandleSize(reinterpret_cast<Handle>(prefs)) == Size(sizeof(prefsrec)));
        FUZZ_CHECK((*prefs)->PrefVersion >= 3);
    } else {
        prefs = NewPrefs();
        DefaultPrefs(prefs);
    }

    pluginDataRec config;
    FillPattern(config, 1);
    pluginDataRec untouched;
    FillPattern(untouched, 1);
    const bool configRead = ReadConfig(&config);
    if (configRead)
        FUZZ_CHECK(Finite(config.StartRel) && Finite(config.EndRel));
    else
        FUZZ_CHECK(SameSavedFields(config, untouched));
    FUZZ_CHECK(CurResFile() == curRes);

    // Saving the record rebuilds the file; the saved configuration goes along.
    FUZZ_CHECK(SavePreferences(prefs));
    prefsH again = nullptr;
    FUZZ_CHECK(ReadPreferences(again));
    FUZZ_CHECK(std::memcmp(*again, *prefs, sizeof(prefsrec)) == 0);
    DisposeHandle(reinterpret_cast<Handle>(again));
    pluginDataRec carried;
    FillPattern(carried, 1);
    FUZZ_CHECK(ReadConfig(&carried) == configRead);
    FUZZ_CHECK(SameSavedFields(carried, config));

    pluginDataRec saved;
    FillPattern(saved, 2);
    if (configRead)
        saved = config;
    FUZZ_CHECK(SaveConfig(&saved));
    pluginDataRec back;
    FillPattern(back, 3);
    FUZZ_CHECK(ReadConfig(&back));
    FUZZ_CHECK(SameSavedFields(back, saved));
    again = nullptr;
    FUZZ_CHECK(ReadPreferences(again));
    FUZZ_CHECK(std::memcmp(*again, *prefs, sizeof(prefsrec)) == 0);
    DisposeHandle(reinterpret_cast<Handle>(again));
    FUZZ_CHECK(CurResFile() == curRes);

    DisposeHandle(reinterpret_cast<Handle>(prefs));
    return 0;
}
