// Folder Manager subset: where the special folders are.
#pragma once

#include "MacTypes.h"

enum {
    kOnSystemDisk = -32768,
};

enum {
    kDontCreateFolder = 0,
    kCreateFolder = 1,
};

constexpr OSType kPreferencesFolderType = FOUR_CHAR_CODE("pref");

// The preferences folder is $XDG_CONFIG_HOME when set to an absolute path,
// else $HOME/.config. When it is missing, kCreateFolder makes it with mode
// 0700 (the folder that holds it must exist); otherwise, or when it cannot
// be made, the result is fnfErr.
TB_EXPORT OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                           SInt32* foundDirID);
