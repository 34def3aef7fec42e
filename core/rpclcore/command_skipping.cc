#include "core/rpclcore/command_skipping.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/heartbeat_thread.h"
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

// Where each command id occurs in the answer, in answer order; built once so
// that every rule looks its ids up instead of rescanning the list.
class IdPositions {
 public:
  explicit IdPositions(const std::vector<uint32_t>& ids) {
    for (size_t i = 0; i < ids.size(); ++i) positions_[ids[i]].push_back(i);
  }
  const std::vector<size_t>& Of(uint32_t id) const {
    static const std::vector<size_t> kNone;
    const auto it = positions_.find(id);
    return it == positions_.end() ? kNone : it->second;
  }
  // The ids present, ascending: the order the repeat rule is applied in.
  std::vector<uint32_t> Ids() const {
    std::vector<uint32_t> ids;
    ids.reserve(positions_.size());
    for (const auto& [id, unused] : positions_) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

 private:
  std::unordered_map<uint32_t, std::vector<size_t>> positions_;
};

// Marks commands skipped, in rule order; the acknowledgements go out
// afterwards in the same order.
class SkipMarker {
 public:
  explicit SkipMarker(std::vector<bool>* skip) : skip_(*skip) {}
  // Marks the command skipped; false when it already was.
  bool Mark(size_t index) {
    if (skip_[index]) return false;
    skip_[index] = true;
    marked_.push_back(index);
    return true;
  }
  const std::vector<size_t>& Marked() const { return marked_; }

 private:
  std::vector<bool>& skip_;
  std::vector<size_t> marked_;
};

void MarkRepeats(const IdPositions& positions, SkipMarker* marker) {
  // Only the last instance of a repeated command is carried out.
  for (uint32_t id : positions.Ids()) {
    if (id == 0 || std::find(std::begin(kRepeatExemptIds), std::end(kRepeatExemptIds), id) != std::end(kRepeatExemptIds)) {
      continue;
    }
    const std::vector<size_t>& at = positions.Of(id);
    for (size_t n = 0; n + 1 < at.size(); ++n) marker->Mark(at[n]);
  }
}

void MarkCancellingPairs(const IdPositions& positions, SkipMarker* marker) {
  // A command followed by the one that cancels it: neither is carried out.
  for (const CommandPair& pair : kCommandPairs) {
    const std::vector<size_t>& firsts = positions.Of(pair.first);
    const std::vector<size_t>& seconds = positions.Of(pair.second);
    for (size_t n = 0; n < firsts.size() && n < seconds.size(); ++n) {
      if (firsts[n] > seconds[n]) continue;
      const bool firstNewlyMarked = marker->Mark(firsts[n]);
      marker->Mark(seconds[n]);
      if (firstNewlyMarked) break;
    }
  }
}

void MarkOvertakenUpgrades(const IdPositions& positions, SkipMarker* marker) {
  const std::vector<size_t>& spUpgrades = positions.Of(CSP_CMD_ID_SP_UPGRADE_CMD);
  const std::vector<size_t>& upUpdates = positions.Of(CSP_CMD_ID_UP_UPDATE_CMD);
  const std::vector<size_t>& upgrades = positions.Of(CSP_CMD_ID_UPGRADE_CMD);
  if (upUpdates.empty() && !upgrades.empty()) {
    if (!spUpgrades.empty()) marker->Mark(spUpgrades.back());
  } else if (!upUpdates.empty()) {
    if (!upgrades.empty()) marker->Mark(upgrades.back());
    if (!spUpgrades.empty()) marker->Mark(spUpgrades.back());
  }
}

// A stop leaves the rest of the answer alone: nothing more is carried out or
// acknowledged, and the server sends the unacknowledged commands again.
void SkipAllOnStop(std::vector<bool>* skip) {
  AGLOG_AS("RPMarkCommandsToSkip", AG_LOG_PROGRESS, "Stop requested: none of the %lu commands is carried out",
           static_cast<unsigned long>(skip->size()));
  std::fill(skip->begin(), skip->end(), true);
}

}  // namespace

void CopyCmdGuid(CmdAck* ack, const char* guid) {
  std::memset(ack->szCmdGuid, 0, sizeof(ack->szCmdGuid));
  if (guid != nullptr) std::strncpy(ack->szCmdGuid, guid, sizeof(ack->szCmdGuid) - 1);
}

void RPMarkCommandsToSkip(const ServerCommandEntry* commands, uint32_t count, IRPClient* rpClient,
                          std::vector<bool>* skip) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (skip == nullptr) return;
  const size_t total = commands != nullptr ? count : 0;
  skip->assign(total, false);
  std::vector<CmdAck> acks(total);
  std::vector<uint32_t> ids(total);
  for (size_t i = 0; i < total; ++i) {
    if (HeartbeatStopRequested()) return SkipAllOnStop(skip);
    ids[i] = ParseCommandForSkip(commands[i], &acks[i]);
  }

  const IdPositions positions(ids);
  SkipMarker marker(skip);
  MarkRepeats(positions, &marker);
  MarkCancellingPairs(positions, &marker);
  MarkOvertakenUpgrades(positions, &marker);

  // One line for the whole answer, however many commands it skips, so that
  // a flood of repeats cannot rotate the log away.
  size_t notSent = 0;
  for (size_t n = 0; n < marker.Marked().size(); ++n) {
    if (HeartbeatStopRequested()) return SkipAllOnStop(skip);
    if (DeliverCommandAck(acks[marker.Marked()[n]], rpClient) != AckDelivery::kSent) ++notSent;
  }
  // The product hears of the connection state once for the whole batch.
  if (notSent < marker.Marked().size()) CheckConnStateAndNotifyAV();
  if (!marker.Marked().empty()) {
    AGLOG(AG_LOG_PROGRESS, "%lu of %lu commands skipped; %lu skip acknowledgements not sent",
          static_cast<unsigned long>(marker.Marked().size()), static_cast<unsigned long>(total),
          static_cast<unsigned long>(notSent));
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
}

bool SendCommandAckOnce(const CmdAck& ack, IRPClient* rpClient) {
  CmdAck record;
  std::memcpy(&record, &ack, sizeof(record));
  ServerResponse* response = nullptr;
  if (rpClient == nullptr || !rpClient->SendCommandAck(&record, &response)) return false;
  CheckServerResponse(response);
  if (response != nullptr) rpClient->FreeServerResponse(response);
  return true;
}

AckDelivery DeliverCommandAck(const CmdAck& ack, IRPClient* rpClient) {
  if (SendCommandAckOnce(ack, rpClient)) return AckDelivery::kSent;
  return StorePendingCommandAck(ack) ? AckDelivery::kStored : AckDelivery::kLost;
}

void SendOrStoreCommandAck(const CmdAck& ack, IRPClient* rpClient, const char* routine) {
  const AckDelivery delivery = DeliverCommandAck(ack, rpClient);
  if (delivery == AckDelivery::kSent) {
    CheckConnStateAndNotifyAV();
    return;
  }
  AGLOG_AS(routine, AG_LOG_FAILURE, "SendCommandAck failed");
  if (delivery == AckDelivery::kLost) AGLOG_AS(routine, AG_LOG_FAILURE, "SetClientPendingCommands failed");
}
