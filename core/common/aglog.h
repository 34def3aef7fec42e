// The one logging macro of the core. Every line names the module
// "agcore.dll" and the routine it comes from; the message is printf-style.
//   AGLOG(AG_LOG_FAILURE, "CreateEvent Failed for (ErrorNo = %u)", err);
// AGLOG_AS names the routine explicitly, for the few lines that carry the
// name of another routine than the one they are written from.
#pragma once

#include <agsuite/agevtlog.h>

inline constexpr const char* kAgCoreModuleName = "agcore.dll";

#define AGLOG(level, ...) ::AgEvtLogWrite((level), kAgCoreModuleName, __func__, __FILE__, __LINE__, __VA_ARGS__)
#define AGLOG_AS(routine, level, ...) \
  ::AgEvtLogWrite((level), kAgCoreModuleName, (routine), __FILE__, __LINE__, __VA_ARGS__)
#define AGLOGW(level, ...) ::AgEvtLogWriteW((level), kAgCoreModuleName, __func__, __FILE__, __LINE__, __VA_ARGS__)
