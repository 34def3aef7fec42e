#include "core/casupp/pending_record_copy.h"

#include <cstdlib>
#include <cstring>

namespace {

// The size leads the copy; the record's bytes follow at an offset that keeps
// them aligned for any reader.
struct alignas(std::max_align_t) CopyHeader {
  size_t size;
};

}  // namespace

void* CopyPendingRecord(const void* data, uint32_t size) {
  const size_t stored = data != nullptr ? size : 0;
  auto* header = static_cast<CopyHeader*>(std::malloc(sizeof(CopyHeader) + stored));
  if (header == nullptr) return nullptr;
  header->size = stored;
  if (stored != 0) std::memcpy(header + 1, data, stored);
  return header;
}

PendingRecordBytes PendingRecordOf(const void* copy) {
  if (copy == nullptr) return {};
  const auto* header = static_cast<const CopyHeader*>(copy);
  return {reinterpret_cast<const uint8_t*>(header + 1), header->size};
}
