#include "CFBundle.h"

#include "MacMemory.h"

#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

struct OpaqueCFBundle : TBCFObject {
    ~OpaqueCFBundle() override { CFRelease(identifier); }

    std::string path;       // the bundle's folder
    std::string resources;  // its resources folder
    CFStringRef identifier = nullptr;
};

namespace {

struct BundleTable {
    std::recursive_mutex lock;
    std::map<std::string, OpaqueCFBundle*> byPath;  // each holds one reference
    OpaqueCFBundle* main = nullptr;
};

// Bundles live as long as the process; the table is never destroyed, so
// that references handed out stay valid during exit.
BundleTable& Table()
{
    static BundleTable* table = new BundleTable;
    return *table;
}

bool IsDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string RealPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::string();
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string Parent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastComponent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string XMLUnescape(std::string text)
{
    static const std::pair<const char*, const char*> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : kEntities) {
        for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::strlen(entity), plain);
    }
    return text;
}

// Skips blanks, then expects `word`; true with `at` past it.
bool Expect(const std::string& text, size_t& at, const std::string& word)
{
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (text.compare(at, word.size(), word) != 0) return false;
    at += word.size();
    return true;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

CFStringRef ReadIdentifier(const std::string& plistPath)
{
    std::ifstream in(plistPath, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream content;
    content << in.rdbuf();
    const std::string plist = content.str();
    for (size_t key = plist.find("<key>"); key != std::string::npos; key = plist.find("<key>", key + 1)) {
        size_t at = key + 5;
        if (!Expect(plist, at, "CFBundleIdentifier") || !Expect(plist, at, "</key>") ||
            !Expect(plist, at, "<string>"))
            continue;
        const size_t end = plist.find("</string>", at);
        if (end == std::string::npos) return nullptr;
        return TBCFStringCreateWithUTF8(XMLUnescape(Trim(plist.substr(at, end - at))));
    }
    return nullptr;
}

// The bundle object for a folder with Contents/Info.plist; the table keeps it.
OpaqueCFBundle* BundleAt(const std::string& folder)
{
    const std::string path = RealPath(folder);
    if (path.empty()) return nullptr;
    BundleTable& table = Table();
    std::lock_guard guard(table.lock);
    const auto found = table.byPath.find(path);
    if (found != table.byPath.end()) return found->second;
    const std::string plist = path + "/Contents/Info.plist";
    if (!IsFile(plist)) return nullptr;
    auto* bundle = TBNew<OpaqueCFBundle>();
    if (bundle == nullptr) return nullptr;
    bundle->path = path;
    bundle->resources = path + "/Contents/Resources";
    bundle->identifier = ReadIdentifier(plist);
    table.byPath.emplace(path, bundle);
    return bundle;
}

// X.bundle/Contents/Linux/binary → X.bundle
std::string BundleFolderOfBinary(const std::string& binary)
{
    const std::string linuxDir = Parent(binary);
    const std::string contents = Parent(linuxDir);
    if (LastComponent(linuxDir) != "Linux" || LastComponent(contents) != "Contents")
        return std::string();
    return Parent(contents);
}

int CollectLoaded(dl_phdr_info* info, size_t, void* data)
{
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
        static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
    return 0;
}

std::string ExecutablePath()
{
    return RealPath("/proc/self/exe");
}

bool SameIdentifier(const OpaqueCFBundle* bundle, CFStringRef bundleID)
{
    return bundle != nullptr && bundle->identifier != nullptr &&
           CFStringCompare(bundle->identifier, bundleID, 0) == kCFCompareEqualTo;
}

std::string Utf8OrEmpty(CFStringRef text)
{
    return text != nullptr ? TBCFStringToUTF8(text) : std::string();
}

}  // namespace

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL)
{
    const std::string path = TBCFURLGetPath(bundleURL);
    if (path.empty()) return nullptr;
    OpaqueCFBundle* bundle = BundleAt(path);
    if (bundle != nullptr) CFRetain(bundle);
    return bundle;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID)
{
    if (bundleID == nullptr) return nullptr;
    BundleTable& table = Table();
    std::lock_guard guard(table.lock);
    for (const auto& [path, bundle] : table.byPath) {
        if (SameIdentifier(bundle, bundleID)) return bundle;
    }
    std::vector<std::string> loaded;
    dl_iterate_phdr(CollectLoaded, &loaded);
    loaded.push_back(ExecutablePath());
    for (const std::string& object : loaded) {
        const std::string folder = BundleFolderOfBinary(RealPath(object));
        if (folder.empty()) continue;
        OpaqueCFBundle* bundle = BundleAt(folder);
        if (SameIdentifier(bundle, bundleID)) return bundle;
    }
    return nullptr;
}

CFBundleRef CFBundleGetMainBundle()
{
    BundleTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.main != nullptr) return table.main;
    const std::string executable = ExecutablePath();
    const std::string folder = BundleFolderOfBinary(executable);
    if (!folder.empty()) table.main = BundleAt(folder);
    if (table.main == nullptr) {
        auto* bundle = TBNew<OpaqueCFBundle>();
        if (bundle == nullptr) return nullptr;
        bundle->path = executable.empty() ? RealPath(".") : Parent(executable);
        bundle->resources = IsDirectory(bundle->path + "/Resources") ? bundle->path + "/Resources"
                                                                     : bundle->path;
        table.main = bundle;
    }
    return table.main;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName)
{
    if (bundle == nullptr || resourceName == nullptr) return nullptr;
    std::string name = TBCFStringToUTF8(resourceName);
    const std::string type = Utf8OrEmpty(resourceType);
    if (!type.empty()) name += (type[0] == '.' ? "" : ".") + type;
    const std::string subDir = Utf8OrEmpty(subDirName);
    if (name.empty() || name.find("..") != std::string::npos || subDir.find("..") != std::string::npos)
        return nullptr;
    const std::string tail = (subDir.empty() ? std::string() : "/" + subDir) + "/" + name;
    for (const char* localisation : {"", "/English.lproj", "/en.lproj"}) {
        const std::string candidate = bundle->resources + localisation + tail;
        if (IsFile(candidate)) return TBCFURLCreateWithPath(candidate, IsDirectory(candidate));
    }
    return nullptr;
}
