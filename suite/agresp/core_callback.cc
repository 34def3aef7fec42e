#include "core_callback.h"

#include <atomic>

namespace agresp {
namespace {

std::atomic<PFN_NOTIFY_CLIENT_CORE> g_core_callback{nullptr};

}  // namespace

void SetCoreCallback(PFN_NOTIFY_CLIENT_CORE callback) { g_core_callback.store(callback); }

PFN_NOTIFY_CLIENT_CORE CoreCallback() { return g_core_callback.load(); }

}  // namespace agresp
