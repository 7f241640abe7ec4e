#include "CFURL.h"

#include "MacErrors.h"
#include "MacMemory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

struct OpaqueCFURL : TBCFObject {
    bool Equals(const TBCFObject& other) const override
    {
        const auto* url = dynamic_cast<const OpaqueCFURL*>(&other);
        return url != nullptr && CFEqual(url->text, text);
    }
    ~OpaqueCFURL() override { CFRelease(text); }

    CFStringRef text = nullptr;
    std::string path;  // absolute, without trailing slash; empty for non-file URLs
};

namespace {

constexpr UInt32 kFSRefMagic = 0x54426672;  // "TBfr"

bool Unreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr;
}

std::string PercentEncode(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (Unreserved(c)) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += char(high * 16 + low);
        i += 2;
    }
    return true;
}

bool ValidURLText(const std::string& text)
{
    if (text.empty()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0)
                return false;
        } else if (!Unreserved(c) && c != '?' && c != '#' && c != '[' && c != ']') {
            return false;
        }
    }
    return true;
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) return path;
    std::string base = buffer.data();
    if (path.empty()) return base;
    return base == "/" ? "/" + path : base + "/" + path;
}

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

CFURLRef MakeFileURL(const std::string& absolutePath, bool isDirectory)
{
    const std::string path = Trimmed(absolutePath);
    std::string text = "file://" + PercentEncode(path);
    if (isDirectory && path != "/") text += '/';
    CFStringRef string = TBCFStringCreateWithUTF8(text);
    if (string == nullptr) return nullptr;
    auto* url = TBNew<OpaqueCFURL>();
    if (url == nullptr) {
        CFRelease(string);
        return nullptr;
    }
    url->text = string;
    url->path = path;
    return url;
}

const OpaqueCFURL* AsURL(CFURLRef url)
{
    return url;
}

struct RefTable {
    std::mutex lock;
    std::vector<std::string> paths;
    std::unordered_map<std::string, UInt32> index;
};

RefTable& Refs()
{
    static RefTable table;
    return table;
}

bool Exists(const std::string& path, bool* isDirectory)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    if (isDirectory != nullptr) *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

OSStatus MakeRef(const std::string& rawPath, FSRef* ref, Boolean* isDirectory)
{
    if (ref == nullptr || rawPath.empty()) return paramErr;
    const std::string path = Trimmed(Absolute(rawPath));
    bool directory = false;
    if (!Exists(path, &directory)) return fnfErr;
    UInt32 number = 0;
    {
        RefTable& table = Refs();
        std::lock_guard guard(table.lock);
        const auto found = table.index.find(path);
        if (found != table.index.end()) {
            number = found->second;
        } else {
            number = UInt32(table.paths.size());
            table.paths.push_back(path);
            table.index.emplace(path, number);
        }
    }
    std::memset(ref->hidden, 0, sizeof(ref->hidden));
    std::memcpy(ref->hidden, &kFSRefMagic, 4);
    std::memcpy(ref->hidden + 4, &number, 4);
    if (isDirectory != nullptr) *isDirectory = directory;
    return noErr;
}

}  // namespace

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL)
{
    if (URLString == nullptr || baseURL != nullptr) return nullptr;
    const std::string text = TBCFStringToUTF8(URLString);
    if (!ValidURLText(text)) return nullptr;
    std::string path;
    if (text.rfind("file://", 0) == 0) {
        std::string rest = text.substr(7);
        if (rest.rfind("localhost", 0) == 0) rest = rest.substr(9);
        if (rest.empty() || rest[0] != '/' || !PercentDecode(rest, path)) return nullptr;
        path = Trimmed(path);
    }
    auto* url = TBNew<OpaqueCFURL>();
    if (url == nullptr) return nullptr;
    url->text = static_cast<CFStringRef>(CFRetain(URLString));
    url->path = path;
    return url;
}

CFStringRef CFURLGetString(CFURLRef anURL)
{
    return anURL != nullptr ? AsURL(anURL)->text : nullptr;
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef)
{
    if (url == nullptr || url->path.empty()) return false;
    return MakeRef(url->path, fsRef, nullptr) == noErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef* fsRef)
{
    std::string path;
    if (!TBFSRefGetPath(fsRef, path)) return nullptr;
    bool directory = false;
    Exists(path, &directory);
    return MakeFileURL(path, directory);
}

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory)
{
    if (path == nullptr) return paramErr;
    return MakeRef(reinterpret_cast<const char*>(path), ref, isDirectory);
}

std::string TBCFURLGetPath(CFURLRef url)
{
    return url != nullptr ? url->path : std::string();
}

bool TBFSRefGetPath(const FSRef* ref, std::string& path)
{
    if (ref == nullptr) return false;
    UInt32 magic = 0;
    UInt32 number = 0;
    std::memcpy(&magic, ref->hidden, 4);
    std::memcpy(&number, ref->hidden + 4, 4);
    if (magic != kFSRefMagic) return false;
    RefTable& table = Refs();
    std::lock_guard guard(table.lock);
    if (number >= table.paths.size()) return false;
    path = table.paths[number];
    return true;
}

CFURLRef TBCFURLCreateWithPath(const std::string& path, bool isDirectory)
{
    return MakeFileURL(Absolute(path), isDirectory);
}
