// Surroundings for the upgrade and installation-status tests: the messaging
// environment (agent root, in-memory support library, messaging mocks, log
// capture), a manual clock, a machine root of the test's own for the named
// events, and helpers for the result files and command records an upgrade
// leaves behind.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/siblings/client_store.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "platform/utf.h"
#include "tests/unit/mocks/messaging_env.h"
#include "tests/unit/mocks/scratch_folder.h"

// The upgrade data ("DATA_FOR_UPGRADE") an upgrade leaves for the new agent;
// the target version matches the version the messaging environment reports.
struct UpgradeData {
  std::string guid = "client-guid-from-old-agent";
  uint32_t type = 2;
  uint32_t consent = 1;
  std::string target = "4.2.0.9";
  std::u16string avFromCdn = u"https://cdn/av";
  std::u16string uaFromCdn;
  std::u16string avFromUa = u"https://ua/av";
  std::u16string uaFromUa;
  std::u16string avFromServer = u"https://server/av";
  std::u16string uaFromServer;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> record(AG_UPGRADE_DATA_SIZE, 0);
    std::memcpy(record.data(), guid.data(), guid.size());
    std::memcpy(record.data() + 100, &type, 4);
    std::memcpy(record.data() + 104, &consent, 4);
    std::memcpy(record.data() + 376, target.data(), target.size());
    const auto wide = [&](size_t offset, const std::u16string& text) {
      std::memcpy(record.data() + offset, text.data(), text.size() * sizeof(char16_t));
    };
    wide(1156, avFromCdn);
    wide(1676, uaFromCdn);
    wide(2716, avFromUa);
    wide(3236, uaFromUa);
    wide(4276, avFromServer);
    wide(4796, uaFromServer);
    return record;
  }
};

class UpgradeTestEnv : public MessagingEnv {
 public:
  UpgradeTestEnv() : clockScope_(&clock), machine_("upgrade-machine-") {
    previousMachineRoot_ = platform::MachineRoot();
    platform::SetMachineRoot(machine_.path() + "/");
    char16_t folder[260] = {};
    support.GetModulePathW(folder, 260);
    moduleFolder_ = platform::Utf16ToUtf8(folder).value_or("");
  }
  ~UpgradeTestEnv() { platform::SetMachineRoot(previousMachineRoot_); }

  // "UPGRD_RESULT_INFO"/"InstallResult" of a result file beside the core.
  void WriteInstallResult(const std::string& file, const std::string& value) const {
    ASSERT_TRUE(platform::WritePrivateProfileStringW(u"UPGRD_RESULT_INFO", u"InstallResult",
                                                     platform::Utf8ToUtf16(value)->c_str(), Path(file).c_str()));
  }
  std::optional<std::string> InstallResult(const std::string& file) const {
    char16_t text[260] = {};
    if (platform::GetPrivateProfileStringW(u"UPGRD_RESULT_INFO", u"InstallResult", u"", text, 260,
                                           Path(file).c_str()) == 0) {
      return std::nullopt;
    }
    return platform::Utf16ToUtf8(text);
  }
  std::u16string Path(const std::string& file) const { return *platform::Utf8ToUtf16(moduleFolder_ + file); }

  static AgUpgradeCmdRecord CmdRecord(const std::string& guid) {
    AgUpgradeCmdRecord record{};
    record.dwLeading = 7;
    std::strncpy(record.szCmdGuid, guid.c_str(), sizeof(record.szCmdGuid) - 1);
    return record;
  }
  void PutCmdRecord(uint32_t id, const std::string& guid) { support.PutValue(id, CmdRecord(guid)); }

  // The upgrade data and the agent INI's copy of the command record.
  void LeaveUpgradeData(const UpgradeData& data, const std::string& cmdGuid) {
    const auto bytes = data.Bytes();
    ASSERT_EQ(support.SetClientAgentGlobalInfoToINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, bytes.data()), 1u);
    const AgUpgradeCmdRecord command = CmdRecord(cmdGuid);
    ASSERT_EQ(support.SetUpgrdCmdInfoToINI(0, &command), 1u);
  }

  // Spins until the log holds `count` records containing `text`; false when
  // that has not happened within half a minute (a fault, not a slow run), so
  // a broken thread fails the test instead of hanging it.
  bool WaitForLog(const std::string& text, size_t count) const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (log.Count(text) < count) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::yield();
    }
    return true;
  }

  platform::ManualClock clock;

 private:
  platform::ScopedClock clockScope_;
  test_support::ScratchFolder machine_;
  std::string previousMachineRoot_;
  std::string moduleFolder_;
};
