// The heap copy of one stored pending record (lists 14 and 15) that the
// heartbeat's follow-up work queues for a task performer. The copy carries
// the size the client data store gave for the record: the record's own
// length fields are untrusted and are only ever checked against that size,
// never used to find the record's end.
#pragma once

#include <cstddef>
#include <cstdint>

struct PendingRecordBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// A malloc'd copy of `size` bytes of `data` (released with std::free), or
// null when memory is short. A null `data` copies nothing (size 0).
void* CopyPendingRecord(const void* data, uint32_t size);
// The bytes and stored size of a copy made by CopyPendingRecord.
PendingRecordBytes PendingRecordOf(const void* copy);
