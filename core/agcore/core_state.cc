// The process-wide state of the core. One instance for the life of the
// process: start-up fills it, clean-up empties it again, so a second start-up
// in the same process finds it as a freshly loaded library would.
#include "core/agcore/core_state.h"

CoreState& GetCoreState() {
  // Never destroyed, like the lock below: process exit must not run the
  // destructors of thread and event handles that a thread may still hold.
  static CoreState* state = new CoreState();
  return *state;
}

std::mutex& ClientStoreCounterLock() {
  // Never destroyed: threads that outlive clean-up (the consent thread ends on
  // its own) may still reach the store wrappers during process exit.
  static std::mutex* lock = new std::mutex();
  return *lock;
}
