// The numbered entries and the event table of the client data store, and how
// the store fails: damaged file, lock held by another connection, full disk.
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <fstream>

#include "agmisc_test_env.h"
#include "client_store.h"

namespace {

using agmisc_test::AgentRootTest;
using agmisc_test::OpenStore;

class ClientStoreTest : public AgentRootTest {};

TEST_F(ClientStoreTest, EntryRoundTripsIsReplacedDeletedAndReadOnlyIntoABufferOfItsSizeOrLarger) {
  std::array<uint8_t, 16> digest{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  {
    OpenStore db;
    ASSERT_EQ(CLSetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, 4, "abcd"), 1);
    ASSERT_EQ(CLSetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, digest.size(), digest.data()), 1);
    ASSERT_EQ(CLSetDataByType(db.get(), 27, CL_DATA_TYPE_BLOB, 4, "abcd"), 1);
    ASSERT_EQ(CLDeleteDataById(db.get(), 27), 1);
  }
  agmisc::DropIdleStores();  // entries survive reopening
  OpenStore db;
  std::array<uint8_t, 24> larger;
  larger.fill(0xEE);
  ASSERT_EQ(CLGetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, larger.size(), larger.data()), 1);
  std::array<uint8_t, 24> expected{};
  std::copy(digest.begin(), digest.end(), expected.begin());
  EXPECT_EQ(larger, expected);  // the rest zeroed

  std::array<uint8_t, 8> small{};
  EXPECT_EQ(CLGetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, small.size(), small.data()), 0);
  EXPECT_EQ(CLGetDataByType(db.get(), 27, CL_DATA_TYPE_BLOB, larger.size(), larger.data()), 0);

  struct stat info {};
  ASSERT_EQ(::stat(StorePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ClientStoreTest, EventRowIsAddedReplacedAndMissingReadsAsZero) {
  OpenStore db;
  int32_t frequency = -1;
  int64_t last_sync = -1;
  EXPECT_EQ(CLGetDataByEvtID(db.get(), 114, &frequency, &last_sync), 0);
  EXPECT_EQ(std::make_pair(frequency, last_sync), std::make_pair(0, int64_t{0}));
  ASSERT_EQ(CLAddEventLastSync(db.get(), 114, 1439, 1000), 1);
  ASSERT_EQ(CLAddEventLastSync(db.get(), 114, 1439, 5000), 1);
  ASSERT_EQ(CLGetDataByEvtID(db.get(), 114, &frequency, &last_sync), 1);
  EXPECT_EQ(std::make_pair(frequency, last_sync), std::make_pair(1439, int64_t{5000}));
}

TEST_F(ClientStoreTest, FileThatIsNotADatabaseFailsCleanlyAndIsKept) {
  std::filesystem::create_directories(root_ + "data");
  std::ofstream(StorePath(), std::ios::binary) << std::string(8192, 'x');
  CLDBHANDLE db = nullptr;
  EXPECT_EQ(CLOpenDatabase(&db), 0);
  EXPECT_EQ(db, nullptr);
  EXPECT_EQ(std::filesystem::file_size(StorePath()), 8192u);  // left for inspection
}

// Another connection holding the write lock: a write waits for the busy
// time-out and then fails; reads still succeed (WAL readers do not block).
TEST_F(ClientStoreTest, LockHeldElsewhereMakesWritesFailAfterBusyTimeout) {
  agmisc::SetStoreBusyTimeoutMs(1);
  {
    OpenStore db;
    ASSERT_EQ(CLSetDataByType(db.get(), 73, CL_DATA_TYPE_BLOB, 1, "5"), 1);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(StorePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM events;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(CLSetDataByType(db.get(), 73, CL_DATA_TYPE_BLOB, 1, "6"), 0);
    EXPECT_EQ(CLSetPendingCommand(db.get(), 14, CL_DATA_TYPE_BLOB, 1, "6"), 0);
    char back = 0;
    EXPECT_EQ(CLGetDataByType(db.get(), 73, CL_DATA_TYPE_BLOB, 1, &back), 1);
    EXPECT_EQ(back, '5');
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(CLSetDataByType(db.get(), 73, CL_DATA_TYPE_BLOB, 1, "6"), 1);
    sqlite3_close(other);
  }
}

TEST_F(ClientStoreTest, FullDiskFailsTheWriteAndKeepsEarlierEntries) {
  std::filesystem::create_directories(root_ + "data");
  auto store = agmisc::ClientStore::Open(StorePath(), 1000);
  ASSERT_TRUE(store);
  const std::vector<uint8_t> small(16, 0xAB);
  ASSERT_TRUE(store->SetEntry(42, CL_DATA_TYPE_BLOB, small.size(), small.data()));
  store->LimitPagesForTest(8);
  const std::vector<uint8_t> big(64 * 1024, 0xCD);
  EXPECT_FALSE(store->AddPending(14, CL_DATA_TYPE_BLOB, big.size(), big.data()));
  std::vector<uint8_t> back(16);
  EXPECT_EQ(store->GetEntry(42, CL_DATA_TYPE_BLOB, back.size(), back.data()), agmisc::ReadResult::kFound);
  EXPECT_EQ(back, small);
}

}  // namespace
