// Any bytes as a Str255 through the number, command and Core Foundation
// conversions. The string lives in a heap block of exactly its length, so a
// read past its length byte is an ASan report.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "FuzzSupport.h"
#include "common/CommonProcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const double real = in.Take<double>();
    const SInt32 number = in.Take<SInt32>();
    const UInt32 command = in.Take<UInt32>();
    const size_t length = std::min<size_t>(in.RestSize(), 255);
    std::vector<unsigned char> text(1 + length);
    text[0] = static_cast<unsigned char>(length);
    if (length > 0)
        std::memcpy(text.data() + 1, in.Rest(), length);

    double parsed = -1;
    String2Real(text.data(), parsed);
    FUZZ_CHECK(std::isfinite(parsed));

    // Real2String keeps four truncated decimals; its text reads back as such.
    Str255 written;
    Real2String(real, written);
    if (std::isfinite(real)) {
        double readBack = 0;
        String2Real(written, readBack);
        const double whole = std::trunc(real);
        if (whole <= double(INT_MAX) && whole >= double(INT_MIN)) {
            // Digits are summed one by one in doubles, which may add a last-place error.
            const double slack = 1e-12 * std::max(1.0, std::fabs(real));
            FUZZ_CHECK(std::fabs(readBack) <= std::fabs(real) + slack);
            FUZZ_CHECK(std::fabs(real - readBack) < 1e-4 + slack);
        } else {
            FUZZ_CHECK(readBack == (real > 0 ? double(INT_MAX) : double(INT_MIN)));
        }
    }

    Str255 digits;
    Num2Text(number, digits);
    double numberBack = 0;
    String2Real(digits, numberBack);
    FUZZ_CHECK(numberBack == double(number));

    const UInt32 code = String2Command(text.data());
    Str32 codeText;
    Command2String(code, codeText);
    FUZZ_CHECK(codeText[0] == 4);
    for (size_t i = 0; i < 4; ++i)
        FUZZ_CHECK(codeText[1 + i] == (i < length ? text[1 + i] : ' '));
    Command2String(command, codeText);
    Str255 codeAsText;
    std::memcpy(codeAsText, codeText, 5);
    FUZZ_CHECK(String2Command(codeAsText) == command);

    // Mac OS Roman has a character for every byte: the text comes back whole.
    CFStringRef cfText = MakeCFString(text.data());
    FUZZ_CHECK(cfText != nullptr);
    Str255 roundTrip;
    CF2PString(cfText, roundTrip);
    CFRelease(cfText);
    FUZZ_CHECK(roundTrip[0] == length && std::memcmp(roundTrip + 1, text.data() + 1, length) == 0);

    Str255 zeroed;
    std::memcpy(zeroed, text.data(), 1 + length);
    ZeroDelimitString(zeroed);
    FUZZ_CHECK(zeroed[0] == length);
    return 0;
}
