// One listening address of the simulator (the server or the relay): an
// httplib server on its own thread that can be taken down for a while (the
// "unreachable" outage: connections are refused) and comes back on the same
// port.
//
// Bind and Start are called by main; Suspend from any handler thread; Stop by
// main at shutdown. Routes are installed by the given function each time the
// server is (re)created.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace cssim {

class Listener {
 public:
  using RouteInstaller = std::function<void(httplib::Server&)>;

  Listener(std::string name, std::string host, int port, std::string tls_cert, std::string tls_key,
           RouteInstaller install_routes);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Creates the server and binds it; false (with a reason) when it cannot.
  [[nodiscard]] bool Bind(std::string* error);
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] const std::string& name() const { return name_; }
  void Start();
  // Stops accepting for `period`, then listens again on the same port.
  void Suspend(std::chrono::milliseconds period);
  void Stop();

 private:
  [[nodiscard]] std::unique_ptr<httplib::Server> MakeServer() const;
  void Run();

  const std::string name_;
  const std::string host_;
  int port_;
  const std::string tls_cert_;
  const std::string tls_key_;
  const RouteInstaller install_routes_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::unique_ptr<httplib::Server> server_;            // guarded by mutex_ (swapped only by Run)
  std::chrono::steady_clock::time_point resume_at_{};  // guarded by mutex_
  bool stopping_ = false;                              // guarded by mutex_
  bool finished_ = false;                              // guarded by mutex_: Run has returned
  std::thread thread_;
};

}  // namespace cssim
