// Named machine-wide events with the Windows meaning ("Global\\Name"): the
// agent's installation-status thread creates them, installer and upgrade
// processes of any user open them by name and set them.
//
// Meaning kept from Windows:
// - The event lives while at least one process holds it (any NamedEvent
//   object, whether it created or opened it). Creating a name that is held
//   yields that event with its current state (AlreadyExisted() is true, the
//   initial state argument is ignored).
// - Opening for set fails with kErrorFileNotFound (2) when nobody holds it:
//   the signal is lost, as on Windows.
// - A manual-reset event stays signalled until Reset(); an auto-reset event
//   is consumed by the one waiter it wakes; several Set() calls before a wait
//   count as one.
// - Names: an optional "Global\\" or "Local\\" prefix is dropped (there is one
//   namespace per machine root). The rest must be 1..200 bytes without '/',
//   '\\' or NUL and not "." or "..": otherwise kErrorInvalidName (123).
//
// Mechanism: one FIFO per event in <MachineRoot()>run/agcore/events/ (a
// sticky, world-writable folder, so with the default root "/" it is
// /run/agcore/events/<name>). Every holder keeps the FIFO open for reading and
// writing; the pipe holds one byte while the event is signalled, so every
// holder's read end is readable (poll()) and joins WaitAnyRealTime together
// with unnamed events. The kernel drops the byte when the last holder closes,
// and opening the write end without blocking fails (ENXIO) when no holder has
// it open: that is "nobody holds it". Set and Reset take flock() on the FIFO so
// that the test-and-write stays one step across processes; creating and
// opening lock the events folder, so two creators of a name nobody holds do
// not both set up its initial state.
// Access: created with SecurityAttributes granting Everyone kEventModifyState
// the FIFO is mode 0666, otherwise 0600 (other users get kErrorAccessDenied).
// The owner-execute bit, meaningless on a FIFO, marks an auto-reset event so
// that processes which only open it wait with the creator's reset mode.
//
// Thread safety: one object may be set, reset and waited on from any thread.
// A child made by fork() shares the parent's open FIFOs and with them the
// parent's flock, so it opens the event again instead of using inherited
// objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event.h"
#include "platform/export.h"

namespace platform {

struct SecurityAttributes;  // process.h

class AG_PLATFORM_EXPORT NamedEvent final : public Waitable {
 public:
  // Null on failure; `error` (optional) receives the Windows error code, and
  // kErrorAlreadyExists on success when the event was already held.
  static std::unique_ptr<NamedEvent> CreateOrOpen(std::string_view name, bool manual_reset,
                                                  bool initially_signalled,
                                                  const SecurityAttributes* attributes_or_null,
                                                  uint32_t* error = nullptr);
  // Opens an event that some process holds, with the creator's reset mode.
  // Null on failure, with kErrorFileNotFound when nobody holds it.
  static std::unique_ptr<NamedEvent> OpenExisting(std::string_view name, uint32_t* error = nullptr);

  ~NamedEvent() override;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool Set();
  bool Reset();
  bool AlreadyExisted() const { return already_existed_; }
  const std::string& Name() const { return name_; }

  int PollFd() const override;
  bool ConsumeAfterWake() override;

  // Folder holding the event FIFOs for the current machine root.
  static std::string Folder();

 private:
  NamedEvent(std::string name, int read_fd, int write_fd, bool manual_reset, bool already_existed);
  std::string name_;
  int read_fd_;
  int write_fd_;
  bool manual_reset_;
  bool already_existed_;
};

}  // namespace platform
