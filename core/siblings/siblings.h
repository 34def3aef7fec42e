// The one place where the core looks up its sibling libraries.
//
// Production code calls Siblings().support->..., etc. The default set forwards
// to the suite's shared libraries. Tests replace any member for the life of a
// ScopedSiblings; members left null in the override keep the current binding.
// Installing and removing an override is not thread-safe: do it while no core
// thread runs.
#pragma once

#include "core/siblings/messaging_libraries.h"
#include "core/siblings/other_libraries.h"
#include "core/siblings/support_library.h"

struct SiblingSet {
  ISupportLibrary* support = nullptr;
  IMessageGeneratorLibrary* msggen = nullptr;
  IMessageParserLibrary* msgparse = nullptr;
  IResponseGeneratorLibrary* resp = nullptr;
  ITransportLibrary* transport = nullptr;
  IPreInstallLibrary* preinst = nullptr;
  ISystemLibrary* system = nullptr;
  IVersionLibrary* version = nullptr;
};

const SiblingSet& Siblings();

class ScopedSiblings {
 public:
  explicit ScopedSiblings(const SiblingSet& override_set);
  ~ScopedSiblings();
  ScopedSiblings(const ScopedSiblings&) = delete;
  ScopedSiblings& operator=(const ScopedSiblings&) = delete;

 private:
  SiblingSet previous_;
};
