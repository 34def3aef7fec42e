// Threads with their OS thread id, joinable like Windows thread handles.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/export.h"

namespace platform {

// The calling thread's OS id (gettid), as the 32-bit value the agent logs.
AG_PLATFORM_EXPORT uint32_t CurrentThreadId();

class AG_PLATFORM_EXPORT Thread {
 public:
  // Starts `body`; returns null when the thread cannot be created. The
  // returned object must be joined (Join) before it is destroyed, unless
  // Detach() was called. `name` (at most 15 characters are kept) is what
  // `top -H`, ps and a debugger show for the thread.
  static std::unique_ptr<Thread> Start(std::function<uint32_t()> body, const char* name = nullptr);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Waits without time-out; returns the body's result.
  uint32_t Join();
  void Detach();
  // OS id of the thread (valid once Start returned).
  uint32_t Id() const;

 private:
  Thread();
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
