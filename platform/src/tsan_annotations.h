// Tells ThreadSanitizer about the ordering that the kernel gives our events.
//
// A Set() (write to an eventfd or FIFO) happens before the wake-up of the
// poll() that sees it, but ThreadSanitizer only models read() and write() on
// descriptors, not poll(). Without these annotations the common "worker sets
// a manual event, owner wakes and destroys the event" looks like a race.
// Not part of the library's API; no effect outside TSan builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define AG_TSAN_RELEASE(address) __tsan_release(address)
#define AG_TSAN_ACQUIRE(address) __tsan_acquire(address)
#else
#define AG_TSAN_RELEASE(address) static_cast<void>(address)
#define AG_TSAN_ACQUIRE(address) static_cast<void>(address)
#endif
