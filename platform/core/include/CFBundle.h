// Core Foundation bundles.
//
// A bundle is a folder X.bundle/Contents/ holding Info.plist (with its
// CFBundleIdentifier), Linux/<binary>.so and Resources/. Bundles are known by
// being created (CFBundleCreate) or by having their binary loaded in the
// process; a loaded bundle is found by its identifier through the paths of
// the loaded shared objects.
#pragma once

#include "CFURL.h"
#include "CoreFoundation.h"

struct OpaqueCFBundle;
typedef OpaqueCFBundle* CFBundleRef;

// The bundle at the URL's folder, or nil when it has no Contents/Info.plist.
// The same folder always gives the same bundle object (retained).
TB_EXPORT CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
// Get rule: the toolbox keeps the bundle while the process lives.
TB_EXPORT CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
// The bundle of the running program: the bundle around the executable, or
// the executable's folder (resources in its Resources/ if there is one).
TB_EXPORT CFBundleRef CFBundleGetMainBundle();

// The resource "name.type" (or "name" when type is nil or empty) in the
// resources folder or its subfolder subDirName, also inside English.lproj
// or en.lproj; nil when there is no such file or folder.
TB_EXPORT CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                           CFStringRef resourceType, CFStringRef subDirName);
