#include "tools/cssim/listener.h"

namespace cssim {

Listener::Listener(std::string name, std::string host, int port, std::string tls_cert, std::string tls_key,
                   RouteInstaller install_routes)
    : name_(std::move(name)),
      host_(std::move(host)),
      port_(port),
      tls_cert_(std::move(tls_cert)),
      tls_key_(std::move(tls_key)),
      install_routes_(std::move(install_routes)) {}

Listener::~Listener() { Stop(); }

std::unique_ptr<httplib::Server> Listener::MakeServer() const {
  std::unique_ptr<httplib::Server> server;
  if (tls_cert_.empty()) {
    server = std::make_unique<httplib::Server>();
  } else {
    server = std::make_unique<httplib::SSLServer>(tls_cert_.c_str(), tls_key_.c_str());
  }
  if (!server->is_valid()) return nullptr;
  // Short keep-alive so that a stop (outage, shutdown) is not held up by idle
  // client connections for long.
  server->set_keep_alive_timeout(2);
  // Web servers in front of the real service keep a connection for about a
  // hundred requests (cpp-httplib's default is five); a burst of
  // acknowledgements then does not reconnect every fifth request.
  server->set_keep_alive_max_count(100);
  // Headers and body go out in separate writes; without this, Nagle's
  // algorithm holds the body back for the client's delayed ACK (~40 ms).
  server->set_tcp_nodelay(true);
  server->set_payload_max_length(8 * 1024 * 1024);
  install_routes_(*server);
  return server;
}

bool Listener::Bind(std::string* error) {
  std::unique_ptr<httplib::Server> server = MakeServer();
  if (!server) {
    *error = name_ + ": cannot set up the server (TLS certificate or key unreadable?)";
    return false;
  }
  if (port_ == 0) {
    port_ = server->bind_to_any_port(host_);
    if (port_ < 0) {
      *error = name_ + ": cannot bind " + host_;
      return false;
    }
  } else if (!server->bind_to_port(host_, port_)) {
    *error = name_ + ": cannot bind " + host_ + ":" + std::to_string(port_);
    return false;
  }
  std::lock_guard lock(mutex_);
  server_ = std::move(server);
  return true;
}

void Listener::Start() {
  thread_ = std::thread([this] {
    Run();
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
  });
}

void Listener::Run() {
  while (true) {
    httplib::Server* server = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      server = server_.get();
    }
    if (server != nullptr) server->listen_after_bind();

    std::unique_lock lock(mutex_);
    while (!stopping_ && std::chrono::steady_clock::now() < resume_at_) wake_.wait_until(lock, resume_at_);
    if (stopping_) return;
    lock.unlock();
    // Build and bind the replacement outside the lock; a failed bind (port
    // taken meanwhile) is retried after a second.
    std::unique_ptr<httplib::Server> fresh = MakeServer();
    const bool bound = fresh && fresh->bind_to_port(host_, port_);
    lock.lock();
    if (bound) {
      server_ = std::move(fresh);
    } else {
      server_.reset();
      std::fprintf(stderr, "cssim: %s could not listen again on port %d; retrying\n", name_.c_str(), port_);
      resume_at_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
  }
}

void Listener::Suspend(std::chrono::milliseconds period) {
  {
    std::lock_guard lock(mutex_);
    resume_at_ = std::chrono::steady_clock::now() + period;
    if (server_) server_->stop();
  }
  wake_.notify_all();
}

void Listener::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (!thread_.joinable()) return;
  // httplib ignores stop() until its accept loop has begun, so a stop that
  // races with the start is repeated until the thread has left.
  while (true) {
    {
      std::lock_guard lock(mutex_);
      if (finished_) break;
      if (server_) server_->stop();
    }
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(20), [&] { return finished_; });
  }
  thread_.join();
}

}  // namespace cssim
