// The numbered entries of the client data store, how the store fails (damaged
// file, full disk; a lock held elsewhere: ConnectionFigureTest), and the
// client identities kept in it.
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
  {
    OpenStore db;
    ASSERT_EQ(CLSetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, 6, "abcdef"), 1);
    ASSERT_EQ(CLSetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, 4, "\x01\x02\x03\x04"), 1);
    ASSERT_EQ(CLSetDataByType(db.get(), 27, CL_DATA_TYPE_BLOB, 4, "abcd"), 1);
    ASSERT_EQ(CLDeleteDataById(db.get(), 27), 1);
  }
  agmisc::DropIdleStores();  // entries survive reopening
  OpenStore db;
  std::array<uint8_t, 6> larger;
  larger.fill(0xEE);
  ASSERT_EQ(CLGetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, larger.size(), larger.data()), 1);
  EXPECT_EQ(larger, (std::array<uint8_t, 6>{1, 2, 3, 4, 0, 0}));  // the rest zeroed
  EXPECT_EQ(CLGetDataByType(db.get(), 42, CL_DATA_TYPE_BLOB, 3, larger.data()), 0);
  EXPECT_EQ(CLGetDataByType(db.get(), 27, CL_DATA_TYPE_BLOB, larger.size(), larger.data()), 0);
  struct stat info {};
  ASSERT_EQ(::stat(StorePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ClientStoreTest, FileThatIsNotADatabaseFailsCleanlyAndIsKept) {
  std::filesystem::create_directories(root_ + "data");
  std::ofstream(StorePath(), std::ios::binary) << std::string(8192, 'x');
  CLDBHANDLE db = nullptr;
  EXPECT_EQ(CLOpenDatabase(&db), 0);
  EXPECT_EQ(db, nullptr);
  EXPECT_EQ(std::filesystem::file_size(StorePath()), 8192u);  // left for inspection
  char buffer[100];
  EXPECT_EQ(GetClientGUID(buffer, sizeof(buffer)), 0);  // not "never stored": start-up must not replace it
  EXPECT_EQ(GetClientUDI(buffer, sizeof(buffer)), 0);
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

// "Never stored" is a successful empty read, so that start-up generates an
// identity only then and never because the store failed.
TEST_F(ClientStoreTest, GuidAndUdiReadEmptyUntilStoredThenRoundTrip) {
  char buffer[100] = "stale";
  EXPECT_EQ(GetClientGUID(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
  ASSERT_EQ(SetClientGUID("0f8fad5b-d9cb-469f-a165-70867728950e"), 1);
  ASSERT_EQ(SetClientUDI("udi-123"), 1);
  char text[260];
  ASSERT_EQ(GetClientGUIDText(text, sizeof(text)), 1);
  EXPECT_STREQ(text, "0f8fad5b-d9cb-469f-a165-70867728950e");
  ASSERT_EQ(GetClientUDI(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "udi-123");
}

TEST_F(ClientStoreTest, TenantIdBecomesHexSha256) {
  char buffer[260];
  ASSERT_EQ(EncryptTenantId("abc", buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
