// Shared between the File, Folder and Resource Managers of the toolbox core.
#pragma once

#include "MacTypes.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The File Manager's number for a host folder, registered on first use.
SInt32 TBDirIDForFolder(const std::string& folderPath);

OSErr TBOSErrFromErrno(int error);

// One number space for open data forks and resource files, as on the Mac.
SInt16 TBAllocateFileRefNum();
void TBReleaseFileRefNum(SInt16 refNum);

// Type and creator of the file at path; false when it carries none.
bool TBReadFileTypes(const std::string& path, OSType& fileType, OSType& creator);

struct TBAtomicWrite {
    mode_t mode = 0;
    bool keepOwner = false;
    uid_t owner = 0;
    gid_t group = 0;
    bool hasTypes = false;
    OSType fileType = 0;
    OSType creator = 0;
    // Fail with dupFNErr instead of replacing an existing file.
    bool mustBeNew = false;
};

// Writes a complete new file beside path and renames it over path, so that a
// crash leaves either the old or the new content. No temporary file remains
// after a failure.
OSErr TBWriteFileAtomically(const std::string& path, const std::vector<UInt8>& bytes,
                            const TBAtomicWrite& how);

// Permission bits that a newly created file gets under the process's umask.
mode_t TBNewFileMode();

// Implemented by the Resource Manager: whether the file is open as a resource file.
bool TBResourceFileIsOpen(dev_t device, ino_t inode);
