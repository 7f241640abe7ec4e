// Start-up of the effect code's runtime, run once before the first use.
#pragma once

void InitRuntime();
