#include "core/rpclcore/command_skipping.h"

#include <algorithm>
#include <cstring>

#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/rpclcore/command_processing.h"
#include "core/siblings/siblings.h"

namespace {

constexpr uint32_t kRepeatExemptIds[] = {54, 55, 56, 57};

struct CommandPair {
  uint32_t first;
  uint32_t second;
};
// Ascending by the first id: the order the pairs are applied in.
constexpr CommandPair kCommandPairs[] = {{2, 6},   {4, 7},   {5, 8},     {20, 21},   {23, 24},
                                         {29, 30}, {31, 32}, {40, 41},   {107, 108}, {124, 125}};

// Parses one command for its id and fills its skip acknowledgement. Returns
// the id, 0 when the command cannot be parsed.
uint32_t ParseCommandForSkip(const ServerCommandEntry& entry, CmdAck* ack) {
  if (entry.pszCommandJson == nullptr || *entry.pszCommandJson == '\0') {
    AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "Invalid Command.");
    return 0;
  }
  ICSPMsgParser* parser = nullptr;
  if (!Siblings().msgparse->CreateICSPMsgParserObj(&parser) || parser == nullptr) {
    AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "CreateICSPMsgParserObj() failed.");
    return 0;
  }
  uint32_t id = 0;
  if (!parser->OpenMsg(entry.pszCommandJson)) {
    AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "pICSPMsgParser->OpenMsg failed");
  } else {
    AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_PROGRESS, "Before calling pICSPMsgParser->ParseRequestMsg");
    CSPRequest* request = nullptr;
    if (!parser->ParseRequestMsg(&request) || request == nullptr) {
      AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "ParseRequestMsg failed");
    } else {
      id = request->commandId;
      ack->dwCmdId = id;
      CopyCmdGuid(ack, entry.pszCmdGuid);
      ack->dwStatus = kCmdAckSkipped;
      ack->byRetry = 0;
      ack->byLeading = static_cast<uint8_t>(entry.dwLeading & 0xFF);
      ack->pszAckPayload = nullptr;
      parser->FreeRequestMsg(request);
    }
    if (!parser->CloseMsg()) AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "pICSPMsgParser->CloseMsg failed");
  }
  if (!Siblings().msgparse->DeleteICSPMsgParserObj(parser)) {
    AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_FAILURE, "DeleteICSPMsgParserObj failed");
  }
  return id;
}

std::vector<size_t> Occurrences(const std::vector<uint32_t>& ids, uint32_t id) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == id) positions.push_back(i);
  }
  return positions;
}

class SkipMarker {
 public:
  SkipMarker(const std::vector<CmdAck>& acks, IRPClient* rpClient, std::vector<bool>* skip)
      : acks_(acks), rpClient_(rpClient), skip_(*skip) {}
  // Marks the command skipped and acknowledges it; false when it already was.
  bool Mark(size_t index) {
    if (skip_[index]) return false;
    skip_[index] = true;
    SendSkipCommandAck(acks_[index], rpClient_);
    return true;
  }

 private:
  const std::vector<CmdAck>& acks_;
  IRPClient* rpClient_;
  std::vector<bool>& skip_;
};

}  // namespace

void CopyCmdGuid(CmdAck* ack, const char* guid) {
  std::memset(ack->szCmdGuid, 0, sizeof(ack->szCmdGuid));
  if (guid != nullptr) std::strncpy(ack->szCmdGuid, guid, sizeof(ack->szCmdGuid) - 1);
}

void RPMarkCommandsToSkip(const ServerCommandEntry* commands, uint32_t count, IRPClient* rpClient,
                          std::vector<bool>* skip) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (skip == nullptr) return;
  skip->clear();
  std::vector<CmdAck> acks;
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; commands != nullptr && i < count; ++i) {
    skip->push_back(false);
    acks.push_back(CmdAck{});
    ids.push_back(ParseCommandForSkip(commands[i], &acks.back()));
  }
  SkipMarker marker(acks, rpClient, skip);

  std::vector<uint32_t> distinct = ids;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());

  // Only the last instance of a repeated command is carried out.
  AGLOG(AG_LOG_PROGRESS, "Before for loop.");
  for (uint32_t id : distinct) {
    if (id == 0 || std::find(std::begin(kRepeatExemptIds), std::end(kRepeatExemptIds), id) != std::end(kRepeatExemptIds)) {
      continue;
    }
    AGLOG(AG_LOG_PROGRESS, "In if dwCmdId (%d).", static_cast<int>(id));
    const std::vector<size_t> positions = Occurrences(ids, id);
    for (size_t n = 0; n + 1 < positions.size(); ++n) marker.Mark(positions[n]);
  }

  // A command followed by the one that cancels it: neither is carried out.
  for (const CommandPair& pair : kCommandPairs) {
    const std::vector<size_t> firsts = Occurrences(ids, pair.first);
    const std::vector<size_t> seconds = Occurrences(ids, pair.second);
    for (size_t n = 0; n < firsts.size() && n < seconds.size(); ++n) {
      if (firsts[n] > seconds[n]) continue;
      const bool firstNewlyMarked = marker.Mark(firsts[n]);
      marker.Mark(seconds[n]);
      if (firstNewlyMarked) break;
    }
  }

  const std::vector<size_t> spUpgrades = Occurrences(ids, CSP_CMD_ID_SP_UPGRADE_CMD);
  const std::vector<size_t> upUpdates = Occurrences(ids, CSP_CMD_ID_UP_UPDATE_CMD);
  const std::vector<size_t> upgrades = Occurrences(ids, CSP_CMD_ID_UPGRADE_CMD);
  if (upUpdates.empty() && !upgrades.empty()) {
    if (!spUpgrades.empty()) marker.Mark(spUpgrades.back());
  } else if (!upUpdates.empty()) {
    if (!upgrades.empty()) marker.Mark(upgrades.back());
    if (!spUpgrades.empty()) marker.Mark(spUpgrades.back());
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
}

void SendOrStoreCommandAck(const CmdAck& ack, IRPClient* rpClient, const char* routine) {
  CmdAck record;
  std::memcpy(&record, &ack, sizeof(record));
  ServerResponse* response = nullptr;
  if (rpClient != nullptr && rpClient->SendCommandAck(&record, &response)) {
    CheckServerResponse(response);
    CheckConnStateAndNotifyAV();
    if (response != nullptr) rpClient->FreeServerResponse(response);
    return;
  }
  AGLOG_AS(routine, AG_LOG_FAILURE, "SendCommandAck failed");
  if (!StorePendingCommandAck(record)) AGLOG_AS(routine, AG_LOG_FAILURE, "SetClientPendingCommands failed");
}

bool SendSkipCommandAck(const CmdAck& ack, IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  SendOrStoreCommandAck(ack, rpClient, __func__);
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}
