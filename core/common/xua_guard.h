// The handler pair every unified-agent routine ends with: nothing thrown
// inside the routine leaves it, and the log names the routine. Written as the
// handlers of a function-try-block, so __func__ is the routine's own name:
//   bool IsXUAInstalled() try { ... } XUA_CATCH_AND_LOG(false)
// logs "STD::exception found in IsXUAInstalled." for a standard exception.
#pragma once

#include <exception>

#include "core/common/aglog.h"

#define XUA_CATCH_AND_LOG(failure)                                        \
  catch (const std::exception&) {                                         \
    AGLOG(AG_LOG_FAILURE, "STD::exception found in %s.", __func__);       \
    return failure;                                                       \
  }                                                                       \
  catch (...) {                                                           \
    AGLOG(AG_LOG_FAILURE, "Global::exception found in %s.", __func__);    \
    return failure;                                                       \
  }
