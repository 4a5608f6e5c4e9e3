#pragma once
// Old name of slots/factories.h, until the start-up code includes that.
#include "slots/factories.h"
