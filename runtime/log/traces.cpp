#include "runtime/log/traces.h"

TraceCtl traces;
