#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace platform {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

struct Thread::State {
  std::thread thread;
  uint32_t id = 0;
  uint32_t result = 0;  // written by the thread before it ends, read after join
};

Thread::Thread() : state_(std::make_shared<State>()) {}

Thread::~Thread() {
  // Closing a Windows thread handle leaves the thread running; so does this.
  if (state_->thread.joinable()) {
    state_->thread.detach();
  }
}

std::unique_ptr<Thread> Thread::Start(std::function<uint32_t()> body, const char* name) {
  if (!body) {
    return nullptr;
  }
  std::unique_ptr<Thread> thread(new Thread());
  std::promise<uint32_t> started;
  std::future<uint32_t> id = started.get_future();
  try {
    // The thread keeps the state alive itself, so Detach() is safe.
    thread->state_->thread = std::thread(
        [state = thread->state_, body = std::move(body), started = std::move(started)]() mutable {
          started.set_value(CurrentThreadId());
          state->result = body();
        });
  } catch (const std::system_error&) {
    return nullptr;
  }
  if (name != nullptr) {
    // The kernel keeps 15 characters and refuses longer names outright.
    const std::string kept(name, strnlen(name, 15));
    pthread_setname_np(thread->state_->thread.native_handle(), kept.c_str());
  }
  thread->state_->id = id.get();
  return thread;
}

uint32_t Thread::Join() {
  if (state_->thread.joinable()) {
    state_->thread.join();
  }
  return state_->result;
}

void Thread::Detach() {
  if (state_->thread.joinable()) {
    state_->thread.detach();
  }
}

uint32_t Thread::Id() const { return state_->id; }

}  // namespace platform
