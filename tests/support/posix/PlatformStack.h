#pragma once
// The platform's concrete socket stack, for tests that derive from it.

#include "net/IdStackPosix.h"

using TIdPlatformStack = TIdStackPosix;
