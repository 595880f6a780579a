#pragma once

// Everything the platform layer offers, for code that wants it all.

#include "win32/codepage.h"
#include "win32/com.h"
#include "win32/errors.h"
#include "win32/event.h"
#include "win32/module.h"
#include "win32/registry.h"
#include "win32/system.h"
#include "win32/types.h"
#include "win32/version.h"
#include "win32/window.h"
