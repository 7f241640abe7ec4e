// Whether the configuration dialog can be shown to a person, decided before
// Qt starts (Qt ends the process when its display cannot be reached).
#pragma once

#include <string>

namespace brimtone::host {

// Empty when a window can be shown on the display that Qt will use, else
// what is missing. Platforms that show nothing (offscreen, minimal) count as
// no display.
std::string displayProblem();

// For a screenshot no display is needed: when the one named cannot be
// reached, Qt is told to draw offscreen instead.
void useOffscreenUnlessDisplayReachable();

}  // namespace brimtone::host
