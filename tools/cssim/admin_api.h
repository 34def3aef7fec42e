// The simulator's admin API under /admin/ on the server address: queue
// commands, inject faults and outages, refuse registrations, list clients,
// read the journal, health check, read the report counts, read and change the
// clients' policies. Handlers run on httplib's threads and only touch the
// thread-safe SimState, ClientRecords and Journal.
#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <string>

#include "tools/cssim/client_records.h"
#include "tools/cssim/journal.h"
#include "tools/cssim/sim_state.h"

namespace cssim {

class AdminApi {
 public:
  // `suspend(listener, period)` takes a listener ("direct", "relay" or "all")
  // down for `period`; false when there is no such listener.
  using Suspender = std::function<bool(const std::string&, std::chrono::milliseconds)>;

  AdminApi(SimState& state, ClientRecords& records, Journal& journal, Suspender suspend);
  void Install(httplib::Server& server);

 private:
  void QueueCommand(const httplib::Request& request, httplib::Response& response);
  void AddFault(const httplib::Request& request, httplib::Response& response);
  void SetOutage(const httplib::Request& request, httplib::Response& response);
  void SetPolicy(const httplib::Request& request, httplib::Response& response);

  SimState& state_;
  ClientRecords& records_;
  Journal& journal_;
  const Suspender suspend_;
};

}  // namespace cssim
