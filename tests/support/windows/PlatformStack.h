#pragma once
// The platform's concrete socket stack, for tests that derive from it.

#include "net/IdStackWindows.h"

using TIdPlatformStack = TIdStackWindows;
