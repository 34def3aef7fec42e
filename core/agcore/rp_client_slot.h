// The shared RP client object slot: start-up's object, replaced by the
// heartbeat thread on a re-initialisation and released by clean-up.
//
// The heartbeat thread owns the object; other threads (event 33's OTP status,
// clean-up's uninstall notification) only borrow it through Use(), under the
// slot lock. Withdraw() takes the lock too, so the owner destroys an object
// only after every borrower is done with it and no borrower can reach it again.
#pragma once

#include <agsuite/agmsg.h>

#include <mutex>
#include <utility>

class RpClientSlot {
 public:
  // Runs `use` with the current object (possibly null) while holding the slot.
  template <typename Borrower>
  auto Use(Borrower&& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::forward<Borrower>(use)(client_);
  }
  // The current object without borrowing it: for its owner and for tests.
  IRPClient* Peek() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return client_;
  }
  // Puts `client` in the slot and returns what was there.
  IRPClient* Exchange(IRPClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(client_, client);
  }
  // Empties the slot if it still holds `client`; true when it did.
  bool Withdraw(IRPClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_ != client) return false;
    client_ = nullptr;
    return true;
  }

 private:
  mutable std::mutex mutex_;
  IRPClient* client_ = nullptr;
};
