// Leasing at most so many pending records: the oldest go first and the rest
// stay free for the next call, in the same process.
#include <string>
#include <vector>

#include "agmisc_test_env.h"

namespace {

using agmisc_test::AgentRootTest;
using agmisc_test::OpenStore;

class PendingUpTo : public AgentRootTest {};

std::vector<std::string> LeaseUpTo(uint32_t max_count) {
  OpenStore db;
  CLPendingTaskList* list = nullptr;
  EXPECT_EQ(CLGetPendingTasksUpTo(db.get(), max_count, &list), 1);
  std::vector<std::string> texts;
  for (uint32_t i = 0; list != nullptr && i < list->dwCount; ++i) {
    texts.emplace_back(reinterpret_cast<const char*>(list->pTasks[i].pData), list->pTasks[i].dwSize);
  }
  CLFreePendingTasks(list);
  return texts;
}

TEST_F(PendingUpTo, OldestFirstAndTheRestLeftForTheNextCall) {
  for (const std::string text : {"a", "b", "c", "d", "e"}) {
    OpenStore db;
    ASSERT_EQ(CLSetPendingCommand(db.get(), 14, CL_DATA_TYPE_BLOB, 1, text.data()), 1);
  }
  const struct {
    uint32_t max_count;
    std::vector<std::string> leased;
  } kCalls[] = {{0, {}}, {2, {"a", "b"}}, {1, {"c"}}, {9, {"d", "e"}}, {9, {}}};
  for (const auto& call : kCalls) EXPECT_EQ(LeaseUpTo(call.max_count), call.leased) << call.max_count;
}

}  // namespace
