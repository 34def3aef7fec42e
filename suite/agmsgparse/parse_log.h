// Log line of the message parser (module "agmsgparse", routine = caller).
#pragma once

#include <agsuite/agevtlog.h>

#define PARSELOG(level, ...) AgEvtLogWrite((level), "agmsgparse", __func__, __FILE__, __LINE__, __VA_ARGS__)
