#include "Folders.h"

#include "FileSystemInternal.h"
#include "MacErrors.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr SInt16 kVolumeRefNum = -1;

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* user = getpwuid(getuid());
    return user && user->pw_dir ? user->pw_dir : "";
}

// Relative values of XDG_CONFIG_HOME are invalid and ignored, as the XDG
// base directory rules ask.
std::string PreferencesFolder()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/')
        return configHome;
    const std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.config";
}

} // namespace

OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID)
{
    (void)vRefNum;
    if (!foundVRefNum || !foundDirID)
        return paramErr;
    if (folderType != kPreferencesFolderType)
        return fnfErr;
    const std::string folder = PreferencesFolder();
    if (folder.empty())
        return fnfErr;
    // A fresh account has no ~/.config yet; its first save makes it,
    // private, as the XDG rules ask. Only the last step of the path.
    if (createFolder && ::mkdir(folder.c_str(), 0700) == 0)
        ::chmod(folder.c_str(), 0700);
    char resolved[PATH_MAX];
    struct stat info;
    if (!realpath(folder.c_str(), resolved) || stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode))
        return fnfErr;
    const SInt32 dirID = TBDirIDForFolder(resolved);
    if (dirID == 0)
        return fnfErr;
    *foundVRefNum = kVolumeRefNum;
    *foundDirID = dirID;
    return noErr;
}
