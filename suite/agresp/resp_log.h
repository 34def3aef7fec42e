// Log line of the response generator (module "agresp", routine = caller).
#pragma once

#include <agsuite/agevtlog.h>

#define RESPLOG(level, ...) AgEvtLogWrite((level), "agresp", __func__, __FILE__, __LINE__, __VA_ARGS__)
