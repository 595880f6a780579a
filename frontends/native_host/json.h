#pragma once

// The host's JSON owners are the shared ones.

#include "orva/json_ptr.h"
