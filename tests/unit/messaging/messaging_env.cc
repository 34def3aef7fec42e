#include "messaging_env.h"

#include <agsuite/agmisc.h>
#include <agsuite/agpreinst.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "platform/folders.h"
#include "platform/utf.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace messaging_test {
namespace {

std::mutex g_events_lock;
bool g_callback_result = true;

}  // namespace

std::vector<std::pair<int32_t, int64_t>>& RecordedEvents() {
  static std::vector<std::pair<int32_t, int64_t>> events;
  return events;
}

void SetCallbackResult(bool result) {
  std::lock_guard lock(g_events_lock);
  g_callback_result = result;
}

uint8_t RecordingCallback(int32_t eventId, int64_t param) {
  std::lock_guard lock(g_events_lock);
  RecordedEvents().emplace_back(eventId, param);
  return g_callback_result ? 1 : 0;
}

Json::Value ParseOrNull(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &value, &errors)) return Json::Value();
  return value;
}

void MessagingEnv::SetUp() {
  root_ = test_support::MakeScratchFolder("agmsgtest-");
  ASSERT_EQ(AGMiscSetAgentRoot((root_ + "/agent").c_str()), 1);
  platform::SetMachineRoot(root_ + "/machine/");
  char16_t folder[260] = {};
  ASSERT_EQ(AGPreInstGetAvInstallationPath(folder, 260), 1);
  product_folder_ = platform::Utf16ToUtf8(std::u16string_view(folder, platform::U16Length(folder, 260))).value();
  ASSERT_EQ(SetClientGUID("guid-under-test"), 1);
  RecordedEvents().clear();
  SetCallbackResult(true);
  ASSERT_EQ(CreateCAResponseGenObjNew(&gen_, &RecordingCallback), 1);
  ASSERT_EQ(gen_->Init(), 1);
  ASSERT_EQ(CreateICSPMsgParserObj(&parser_), 1);
}

void MessagingEnv::TearDown() {
  if (gen_ != nullptr) {
    gen_->FreeResponse(&last_response_);
    gen_->Deinit();
    DeleteCAResponseGenObj(gen_);
  }
  if (parser_ != nullptr) {
    if (last_request_ != nullptr) parser_->FreeRequestMsg(last_request_);
    DeleteICSPMsgParserObj(parser_);
  }
  HandleClientAgentCoreCleanup();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void MessagingEnv::InstallProduct() { std::filesystem::create_directories(product_folder_); }

void MessagingEnv::WriteProductFile(const std::string& name, const std::string& text) {
  std::ofstream(product_folder_ + name, std::ios::binary) << text;
}

std::string MessagingEnv::ReadProductFile(const std::string& name) const {
  std::ifstream in(product_folder_ + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> MessagingEnv::Respond(const std::vector<RequestDetails>& entries) {
  std::vector<RequestDetails> list = entries;
  for (size_t i = 0; i + 1 < list.size(); ++i) list[i].next = &list[i + 1];
  if (!list.empty()) list.back().next = nullptr;
  RequestList request{list.empty() ? nullptr : &list.front(), list.empty() ? nullptr : &list.back()};
  gen_->FreeResponse(&last_response_);
  last_response_ = {};
  std::vector<std::string> texts;
  if (gen_->CreateResponse(&request, &last_response_) == 0) return texts;
  for (ResponseDetails* it = last_response_.record; it != nullptr; it = it->next) {
    texts.push_back(it->pszText != nullptr ? it->pszText : "");
  }
  return texts;
}

std::string MessagingEnv::RespondOne(uint32_t id, uint32_t category, uint32_t action, const char* payload) {
  const auto texts = Respond({RequestDetails{id, category, action, const_cast<char*>(payload), nullptr}});
  return texts.empty() ? std::string("<failed>") : texts.front();
}

bool MessagingEnv::Command(const std::string& command) {
  gen_->FreeResponse(&last_response_);
  last_response_ = {};
  if (last_request_ != nullptr) parser_->FreeRequestMsg(last_request_);
  last_request_ = nullptr;
  if (parser_->OpenMsg(command.c_str()) == 0 || parser_->ParseRequestMsg(&last_request_) == 0) {
    ADD_FAILURE() << "command not parsed: " << command;
    return false;
  }
  parser_->CloseMsg();
  return gen_->CreateResponse(last_request_, &last_response_) != 0;
}

std::optional<std::vector<uint8_t>> MessagingEnv::ReadStore(uint32_t id, uint32_t size) {
  CLDBHANDLE db = nullptr;
  if (CLOpenDatabase(&db) == 0) return std::nullopt;
  std::vector<uint8_t> bytes(size);
  const bool ok = CLGetDataByType(db, id, CL_DATA_TYPE_BLOB, size, bytes.data()) != 0;
  CLCloseDatabase(db);
  if (!ok) return std::nullopt;
  return bytes;
}

void MessagingEnv::WriteStore(uint32_t id, const std::vector<uint8_t>& bytes) {
  CLDBHANDLE db = nullptr;
  ASSERT_EQ(CLOpenDatabase(&db), 1);
  EXPECT_EQ(CLSetDataByType(db, id, CL_DATA_TYPE_BLOB, static_cast<uint32_t>(bytes.size()), bytes.data()), 1);
  CLCloseDatabase(db);
}

}  // namespace messaging_test
