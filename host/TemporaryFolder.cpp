#include "TemporaryFolder.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Interrupt.h"

namespace brimtone::host {

namespace {

constexpr size_t kRandomLength = 6;  // mkdtemp's XXXXXX

// The stem and process of a name STEM-PID-XXXXXX; false for other names.
bool parseName(const std::string& name, std::string& stem, pid_t& pid)
{
    if (name.size() < kRandomLength + 4) return false;
    const size_t random = name.size() - kRandomLength;
    for (size_t i = random; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    if (name[random - 1] != '-') return false;
    const size_t dash = name.rfind('-', random - 2);
    if (dash == std::string::npos || dash == 0 || dash + 1 == random - 1 || random - 1 - (dash + 1) > 9) return false;
    long number = 0;
    for (size_t i = dash + 1; i < random - 1; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
        number = number * 10 + (name[i] - '0');
    }
    if (number <= 0) return false;
    stem = name.substr(0, dash);
    pid = static_cast<pid_t>(number);
    return true;
}

constexpr char kRunStem[] = "brimtone-run";

std::string runFolderParent()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

bool processGone(pid_t pid)
{
    return pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::unique_ptr<TemporaryFolder> TemporaryFolder::make(const std::string& parent, const std::string& stem,
                                                       bool holdsOutput, std::string& error)
{
    std::string pattern = parent + "/" + stem + "-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = std::strerror(errno);
        return nullptr;
    }
    Interrupt::addTemporary(pattern, holdsOutput);
    return std::unique_ptr<TemporaryFolder>(new TemporaryFolder(pattern));
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    Interrupt::removeTemporary(path_);
}

int TemporaryFolder::removeStale(const std::string& parent, bool (*isOurs)(const std::string& stem))
{
    DIR* folder = opendir(parent.c_str());
    if (!folder) return 0;
    int removed = 0;
    while (const dirent* entry = readdir(folder)) {
        std::string stem;
        pid_t pid = 0;
        if (!parseName(entry->d_name, stem, pid) || !isOurs(stem)) continue;
        const std::string path = parent + "/" + entry->d_name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
            !processGone(pid))
            continue;
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (!ec) ++removed;
    }
    closedir(folder);
    return removed;
}

std::unique_ptr<TemporaryFolder> TemporaryFolder::makeRunFolder(std::string& error)
{
    const std::string parent = runFolderParent();
    auto folder = make(parent, kRunStem, false, error);
    if (!folder) error = "cannot make a folder in " + parent + ": " + error;
    return folder;
}

void TemporaryFolder::removeStaleRunFolders()
{
    removeStale(runFolderParent(), [](const std::string& stem) { return stem == kRunStem; });
}

}  // namespace brimtone::host
