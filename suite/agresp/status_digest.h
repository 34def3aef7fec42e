// Status digests: a status item is sent only when its payload differs from
// the one last handed out. Each digested item has a slot in the client data
// store: <slot> holds the MD5 of the payload last handed out, <slot + 1> the
// one before it. When the core fails to deliver an item it copies <slot + 1>
// back to <slot> (ResetNewOldMd5ById), so the item counts as changed again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace agresp {

class ClientStore;

using Md5Digest = std::array<uint8_t, 16>;

[[nodiscard]] Md5Digest Md5Of(const std::string& text);

// The slot of a digested status item: 9 -> 21, 101 -> 17, 102 -> 19, 19 -> 23.
[[nodiscard]] std::optional<uint32_t> DigestSlotFor(uint32_t dataId);

// True when `payload` must be sent: its digest differs from the one at `slot`
// (then the stored one moves to slot + 1 and the new one takes the slot), or
// the store cannot be used (sending twice beats never sending).
[[nodiscard]] bool StatusChanged(ClientStore& store, uint32_t slot, const std::string& payload);

}  // namespace agresp
