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
// Mechanism: one FIFO per event in <MachineRoot()>run/agcore/events/ (so with
// the default root "/" it is /run/agcore/events/<name>). Every holder keeps
// the FIFO open for reading and writing; the pipe holds a byte while the event
// is signalled, so every holder's read end is readable (poll()) and joins
// WaitAnyRealTime together with unnamed events. The kernel drops the bytes
// when the last holder closes, and opening the write end without blocking
// fails (ENXIO) when no holder has it open: that is "nobody holds it".
//
// Hostile neighbours: no other user can hold up, impersonate or squat an
// event.
// - The folder belongs to the agent's user and is mode 0755: only that user
//   creates events. A folder of our own left world-writable by an older
//   version is closed again; a folder owned by anyone but this user or the
//   superuser is not used (kErrorInvalidOwner).
// - An existing name is used only when it is a FIFO owned by this user or the
//   folder's owner; anything else fails with kErrorInvalidOwner (another
//   user's FIFO) or kErrorInvalidHandle (not a FIFO).
// - Set, Reset and waits take no lock and never block: every open is
//   O_NONBLOCK, a full pipe counts as signalled, and a drain reads a bounded
//   amount, so a process writing without end cannot keep a holder busy. Only
//   creation is serialised (two creators of a name nobody holds must not both
//   set up its initial state), through a lock file beside the folder that
//   only the agent's user can open, taken with bounded non-blocking tries.
// Access: created with SecurityAttributes granting Everyone kEventModifyState
// the FIFO is mode 0622 (others may open it to set it, not to read or reset
// it), otherwise 0600 (other users get kErrorAccessDenied). Such an opener
// holds the write end only: Set() works, Reset() fails and it cannot wait.
// The owner-execute bit, meaningless on a FIFO, marks an auto-reset event so
// that processes which only open it wait with the creator's reset mode.
//
// Thread safety: one object may be set, reset and waited on from any thread.
// A child made by fork() shares the parent's open FIFOs, so it opens the
// event again instead of using inherited objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event.h"
#include "platform/export.h"

namespace platform {

struct SecurityAttributes;  // process.h

// The Windows code for an object that belongs to another user: a name taken
// by another user's FIFO, or an events folder owned by anyone but this user
// or the superuser.
inline constexpr uint32_t kErrorInvalidOwner = 1307;

class AG_PLATFORM_EXPORT NamedEvent final : public Waitable {
 public:
  // Null on failure; `error` (optional) receives the Windows error code, and
  // kErrorAlreadyExists on success when the event was already held.
  static std::unique_ptr<NamedEvent> CreateOrOpen(std::string_view name, bool manual_reset,
                                                  bool initially_signalled,
                                                  const SecurityAttributes* attributes_or_null,
                                                  uint32_t* error = nullptr);
  // Opens an event that some process holds, with the creator's reset mode.
  // Null on failure, with kErrorFileNotFound when nobody holds it and
  // kErrorInvalidOwner when the name belongs to another user.
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
