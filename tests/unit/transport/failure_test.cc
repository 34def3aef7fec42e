// Servers that fail: nobody listening, too slow, connection reset, truncated
// or oversized answers. Each makes the call fail with a log line, never hang
// beyond the time-outs, never crash.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "suite/agtransport/limits.h"
#include "transport_fixture.h"

namespace transport_test {
namespace {

// A loopback server that accepts one connection, reads the request head and
// writes `answer`; an empty answer resets the connection instead.
class RawServer {
 public:
  explicit RawServer(std::string answer) : answer_(std::move(answer)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(listen_fd_, 4) == 0 &&
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    close(listen_fd_);
  }
  [[nodiscard]] int port() const { return port_; }

 private:
  void Serve() {
    // Bounded: a test that never connects does not keep the thread.
    pollfd pfd{listen_fd_, POLLIN, 0};
    if (poll(&pfd, 1, 20'000) != 1) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string head;
    char buffer[4096];
    pollfd cfd{fd, POLLIN, 0};
    while (head.find("\r\n\r\n") == std::string::npos && poll(&cfd, 1, 5000) == 1) {
      const ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;
      head.append(buffer, static_cast<size_t>(n));
    }
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
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

class TransportFailureTest : public ::testing::Test {
 protected:
  // Registers with a server on `port`; returns whether the call succeeded.
  bool RegisterAt(int port, uint32_t total_timeout_ms = 5000) {
    client_ = MakeClient(environment_, total_timeout_ms);
    const CSConnectionInfo info = MakeConnectionInfo("http://", port);
    EXPECT_EQ(client_->InitCSClient(&info), 1);
    ResponseHolder holder(*client_);
    const bool sent = client_->Register(R"([{"payload":{}}])", holder.slot()) == 1;
    EXPECT_EQ(sent, holder.response != nullptr);
    return sent;
  }

  FakeEnvironment environment_;
  std::unique_ptr<agtransport::RpClient> client_;
  LogCapture log_;
};

TEST_F(TransportFailureTest, NobodyListeningFailsTheCall) {
  EXPECT_FALSE(RegisterAt(FreeLoopbackPort()));
  EXPECT_TRUE(log_.Contains("Couldn't connect")) << log_.Dump();
  EXPECT_TRUE(environment_.reported().empty());
}

TEST_F(TransportFailureTest, SlowServerRunsIntoTheTotalTimeout) {
  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start({}, false));
  server.Post("/admin/outage", R"({"mode":"slow","seconds":60,"delayMs":20000})");
  EXPECT_FALSE(RegisterAt(server.port(), 300));
  EXPECT_TRUE(log_.Contains("Timeout was reached")) << log_.Dump();
}

TEST_F(TransportFailureTest, BrokenAnswersFailTheCall) {
  const size_t oversized = agtransport::kMaxResponseBytes + 1024;
  const std::pair<std::string, std::string> cases[] = {
      {"", "POST http://127.0.0.1:"},  // connection reset
      {"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"success\":tr", "failed"},
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(oversized) + "\r\n\r\n" + std::string(oversized, ' '),
       "larger than 4194304 bytes"},
      // A redirect is not followed.
      {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 0\r\n\r\n", "HTTP status 302"},
  };
  for (const auto& [answer, line] : cases) {
    LogCapture log;
    RawServer server(answer);
    EXPECT_FALSE(RegisterAt(server.port())) << line;
    EXPECT_TRUE(log.Contains(line)) << log.Dump();
  }
}

}  // namespace
}  // namespace transport_test
