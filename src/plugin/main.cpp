#include "plugin/main.h"

// The C++ runtime of a shared object is started by the loader; nothing is
// left to do here, but the host front end keeps the call so that a runtime
// which does need it has its place.
void InitRuntime()
{
}
