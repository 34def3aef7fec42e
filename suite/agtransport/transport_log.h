// Logging of libagtransport: every line goes to the event-log library under
// the module name "agtransport.so", with the calling routine's name.
#pragma once

#include <agsuite/agevtlog.h>

#define TLOG(level, ...) AgEvtLogWrite((level), "agtransport.so", __func__, __FILE__, __LINE__, __VA_ARGS__)
