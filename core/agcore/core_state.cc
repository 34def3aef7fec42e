// The process-wide state of the core. One instance for the life of the
// process: start-up fills it, clean-up empties it again, so a second start-up
// in the same process finds it as a freshly loaded library would.
#include "core/agcore/core_state.h"

CoreState& GetCoreState() {
  static CoreState state;
  return state;
}

std::mutex& ClientStoreCounterLock() {
  // Never destroyed: threads that outlive clean-up (the consent thread ends on
  // its own) may still reach the store wrappers during process exit.
  static std::mutex* lock = new std::mutex();
  return *lock;
}
