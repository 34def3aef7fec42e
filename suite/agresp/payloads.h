// What the response generator puts in the payload of each protocol id the
// core asks for (the request-details list: id, category, action, optional
// request payload). Category 1 ids describe the client to the server; category
// 2 ids read from or tell the protection product (see product_standin.h).
//
// An empty result means "nothing to send for this id": an unknown id, a
// status item whose digest is unchanged, unchanged P2P values, an exhausted
// report database. One builder belongs to one response generator and is used
// by its thread only; it keeps the report cursor between requests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report_chunks.h"

namespace agresp {

class PayloadBuilder {
 public:
  // Starts a new request list (ties 103 to the 106 before it).
  void BeginRequest() { last_chunk_.reset(); }

  // `apply_digest` false hands out a status item even when unchanged (an
  // explicit "get data" command from the server).
  [[nodiscard]] std::string Build(uint32_t id, uint32_t category, uint32_t action, const char* request_payload,
                                  bool apply_digest = true);

 private:
  std::string BuildClientItem(uint32_t id, const char* request_payload);
  std::string BuildProductRead(uint32_t id);
  std::string TellProduct(uint32_t id, uint32_t category, uint32_t action, const char* request_payload);
  std::string ReportChunkPayload(const char* request_payload);
  std::string ReportSummaryPayload();

  ReportCursor reports_;
  std::optional<ReportChunk> last_chunk_;
  std::optional<int64_t> exported_up_to_;  // newest record of the last snapshot handed out
};

// Client facts shared with the server-command side.
[[nodiscard]] std::string ClientGuid();

}  // namespace agresp
