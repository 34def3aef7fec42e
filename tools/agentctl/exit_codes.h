// agentctl's exit status (also in its --help and docs/operations.md).
#pragma once

#include "store_snapshot.h"

namespace agentctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitMissing = 1;  // no store (or tenant file) under the root
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDamaged = 3;  // present but unreadable or not the agent's
inline constexpr int kExitBusy = 4;     // locked beyond the bounded wait

[[nodiscard]] constexpr int ExitCodeFor(StoreState state) {
  switch (state) {
    case StoreState::kRead: return kExitOk;
    case StoreState::kMissing: return kExitMissing;
    case StoreState::kDamaged: return kExitDamaged;
    case StoreState::kBusy: return kExitBusy;
  }
  return kExitDamaged;
}

}  // namespace agentctl
