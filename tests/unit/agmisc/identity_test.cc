// Client identities and the registration and connection state kept in the
// client data store, and the tenant id form handed to the protection product.
#include <cstring>
#include <fstream>

#include "agmisc_test_env.h"

namespace {

using agmisc_test::AgentRootTest;

class IdentityTest : public AgentRootTest {};

// "Never stored" is a successful empty read, so that start-up generates an
// identity only then and never because the store failed.
TEST_F(IdentityTest, GuidAndUdiReadEmptyUntilStoredThenRoundTrip) {
  char buffer[100] = "stale";
  EXPECT_EQ(GetClientGUID(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(SetClientGUID(std::string(100, 'a').c_str()), 0);  // longer than the fixed field
  ASSERT_EQ(SetClientGUID("0f8fad5b-d9cb-469f-a165-70867728950e"), 1);
  ASSERT_EQ(SetClientUDI("udi-123"), 1);
  char text[260];
  ASSERT_EQ(GetClientGUIDText(text, sizeof(text)), 1);
  EXPECT_STREQ(text, "0f8fad5b-d9cb-469f-a165-70867728950e");
  ASSERT_EQ(GetClientUDI(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "udi-123");
}

TEST_F(IdentityTest, RegistrationAndConnectionStatesAreTheEntriesTheCoreReads) {
  ASSERT_EQ(SetClientRegStatus(3, 0), 1);
  ASSERT_EQ(SetClientRegStatus(1, 1), 1);
  agmisc_test::OpenStore db;
  uint32_t stored = 0;
  ASSERT_EQ(CLGetDataByType(db.get(), 25, CL_DATA_TYPE_BLOB, sizeof(stored), &stored), 1);
  EXPECT_EQ(stored, 3u);
  ASSERT_EQ(CLGetDataByType(db.get(), 63, CL_DATA_TYPE_BLOB, sizeof(stored), &stored), 1);
  EXPECT_EQ(stored, 1u);
  uint32_t state = 9;
  ASSERT_EQ(SetClientConnectionStatus(2), 1);
  EXPECT_EQ(SetClientConnectionStatus(3), 0);  // only known states
  ASSERT_EQ(GetClientConnectionStatus(&state), 1);
  EXPECT_EQ(state, 2u);
}

TEST_F(IdentityTest, TenantIdBecomesHexSha256) {
  char buffer[260];
  ASSERT_EQ(EncryptTenantId("abc", buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(IdentityTest, StoreFailureMakesIdentityCallsFail) {
  std::filesystem::create_directories(root_ + "data");
  std::ofstream(StorePath(), std::ios::binary) << std::string(4096, 'q');
  char buffer[100];
  EXPECT_EQ(GetClientGUID(buffer, sizeof(buffer)), 0);
  EXPECT_EQ(GetClientUDI(buffer, sizeof(buffer)), 0);
}

}  // namespace
