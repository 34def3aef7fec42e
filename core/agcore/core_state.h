// Process-wide state of the agent core, owned here: created by start-up,
// destroyed by clean-up.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "core/agcore/rp_client_slot.h"
#include "platform/event.h"
#include "platform/thread.h"

// Core parameter record built by start-up from its arguments.
#pragma pack(push, 1)
struct CaCoreParam {
  const char* pszCertificateFile;
  const char* pszKeyFile;
  const char* pszText;
  const char16_t* pwszText;
  uint16_t wValueA;
  uint16_t wValueB;
  uint16_t wValueC;
  uint16_t wValueD;
  uint16_t wZero;
  uint32_t dwZero;
  uint32_t dwValueE;
  uint32_t dwValueF;
  uint32_t dwValueG;
  uint32_t dwValueH;
  uint8_t byFlag;
  uint32_t dwConnectionType;
};
#pragma pack(pop)
static_assert(sizeof(CaCoreParam) == 67);
static_assert(offsetof(CaCoreParam, wValueA) == 32);
static_assert(offsetof(CaCoreParam, wZero) == 40);
static_assert(offsetof(CaCoreParam, dwZero) == 42);
static_assert(offsetof(CaCoreParam, dwValueE) == 46);
static_assert(offsetof(CaCoreParam, byFlag) == 62);
static_assert(offsetof(CaCoreParam, dwConnectionType) == 63);

struct CoreState {
  std::unique_ptr<platform::Event> cleanupEvent;            // manual reset
  std::unique_ptr<platform::Thread> installStatusThread;
  std::unique_ptr<platform::Thread> consentThread;          // ends when clean-up flushes the session waits
  RpClientSlot rpClient;                                     // RP client object slot
  CaCoreParam* coreParam = nullptr;
};

CoreState& GetCoreState();
// The client-store counter lock (initialised by start-up, deleted by clean-up).
std::mutex& ClientStoreCounterLock();
