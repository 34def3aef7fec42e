// Servers that fail: nobody listening, too slow, connection reset, oversized
// answers, redirects. Each makes the call fail with a log line, never hang
// beyond the time-outs, never crash.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "cssim_fixture.h"
#include "suite/agtransport/limits.h"

namespace transport_test {
namespace {

// A loopback server that accepts one connection, reads the request and writes
// `answer`; an empty answer resets the connection instead. Shutting the
// listening socket down ends a wait for a connection that never comes.
class RawServer {
 public:
  explicit RawServer(std::string answer) : answer_(std::move(answer)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  [[nodiscard]] int port() const { return port_; }

 private:
  void Serve() {
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    char request[8192];
    (void)!read(fd, request, sizeof(request));
    const linger abort_on_close{1, 0};  // close sends RST
    if (answer_.empty()) setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof(abort_on_close));
    for (size_t done = 0; done < answer_.size();) {
      const ssize_t n = send(fd, answer_.data() + done, answer_.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
  }

  std::string answer_;
  int fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
  std::thread thread_;
};

// Registers with a server on `port`; returns whether the call succeeded.
bool RegisterAt(FakeEnvironment& environment, int port, uint32_t total_timeout_ms = 5000) {
  auto client = MakeClient(environment, total_timeout_ms);
  const CSConnectionInfo info = MakeConnectionInfo("http://", port);
  EXPECT_EQ(client->InitCSClient(&info), 1);
  ResponseHolder holder(*client);
  const bool sent = client->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  EXPECT_EQ(sent, holder.response != nullptr);
  return sent;
}

TEST(TransportFailureTest, NobodyListeningOrASlowServerFailsTheCall) {
  FakeEnvironment environment;
  LogCapture log;
  EXPECT_FALSE(RegisterAt(environment, FreeLoopbackPort()));
  EXPECT_TRUE(log.Contains("Couldn't connect")) << log.Dump();
  EXPECT_TRUE(environment.reported.empty());

  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start({}, false));
  server.Admin("/admin/outage", R"({"mode":"slow","seconds":60,"delayMs":20000})");
  EXPECT_FALSE(RegisterAt(environment, server.port(), 300));
  EXPECT_TRUE(log.Contains("Timeout was reached")) << log.Dump();
}

TEST(TransportFailureTest, BrokenAnswersFailTheCall) {
  const size_t oversized = agtransport::kMaxResponseBytes + 1024;
  const std::pair<std::string, std::string> cases[] = {
      {"", "POST http://127.0.0.1:"},  // connection reset
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(oversized) + "\r\n\r\n" + std::string(oversized, ' '),
       "larger than 4194304 bytes"},
      // A redirect is not followed.
      {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 0\r\n\r\n", "HTTP status 302"},
  };
  for (const auto& [answer, line] : cases) {
    FakeEnvironment environment;
    LogCapture log;
    RawServer server(answer);
    EXPECT_FALSE(RegisterAt(environment, server.port())) << line;
    EXPECT_TRUE(log.Contains(line)) << log.Dump();
  }
}

}  // namespace
}  // namespace transport_test
