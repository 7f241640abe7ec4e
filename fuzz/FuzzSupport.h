// Shared pieces of the fuzz targets: a reader over the fuzz input that
// answers zeros once the input is used up, a private preferences folder, and
// a check that aborts so that libFuzzer reports the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (false)

// Reads values from the front of the input. Past the end every value is 0, so
// a short input means "the usual case" wherever a target XORs a default in.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : fData(data), fSize(size) {}

    template <typename T>
    T Take()
    {
        T value{};
        const size_t n = fSize - fPos < sizeof(T) ? fSize - fPos : sizeof(T);
        if (n > 0)
            std::memcpy(&value, fData + fPos, n);
        fPos += n;
        return value;
    }
    uint8_t Byte() { return Take<uint8_t>(); }
    bool Empty() const { return fPos >= fSize; }
    // What is left, for routines that take arbitrary bytes.
    const uint8_t* Rest() const { return fData + fPos; }
    size_t RestSize() const { return fSize - fPos; }

private:
    const uint8_t* fData;
    size_t fSize;
    size_t fPos = 0;
};

// A fresh folder made the process's preferences folder (XDG_CONFIG_HOME).
// Made in $BRIMTONE_FUZZ_TMP (fuzz/run.sh sets it and removes it afterwards),
// else under /dev/shm when there is one: the targets write files at every input.
inline std::string MakePrivatePrefsFolder()
{
    const char* base = std::getenv("BRIMTONE_FUZZ_TMP");
    if (base == nullptr || *base == '\0')
        base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/brimtone-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    return pattern;
}

inline bool WriteWholeFile(const std::string& path, const void* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}
