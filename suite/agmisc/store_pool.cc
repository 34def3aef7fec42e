#include "store_pool.h"

#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "agent_folders.h"
#include "agmisc_log.h"

namespace agmisc {
namespace {

constexpr uint32_t kLiveMagic = 0x41474442;  // "AGDB"
constexpr size_t kMaxIdle = 4;

std::atomic<int> g_busy_timeout_ms{kDefaultBusyTimeoutMs};

struct Pool {
  std::mutex lock;
  pid_t owner_pid = ::getpid();                    // guarded by lock
  std::vector<std::unique_ptr<CLDatabase>> idle;  // guarded by lock
};

Pool& ThePool() {
  static Pool* pool = new Pool;  // never destroyed: handles may be closed during exit
  return *pool;
}

// Called with the pool lock held. In a forked child the inherited
// connections belong to the parent: they are abandoned, not closed, because
// closing would touch the parent's file locks.
void ForgetParentConnections(Pool& pool) {
  if (pool.owner_pid == ::getpid()) return;
  for (auto& db : pool.idle) static_cast<void>(db.release());
  pool.idle.clear();
  pool.owner_pid = ::getpid();
}

// Where the store of the current root lives; the folder is not created here.
std::string StorePath() { return AgentRoot() + "data/" + kClientStoreFileName; }

}  // namespace

CLDatabase* AcquireStore() {
  const std::string path = StorePath();
  const int busy_timeout_ms = g_busy_timeout_ms.load();
  Pool& pool = ThePool();
  {
    std::lock_guard<std::mutex> guard(pool.lock);
    ForgetParentConnections(pool);
    while (!pool.idle.empty()) {
      std::unique_ptr<CLDatabase> db = std::move(pool.idle.back());
      pool.idle.pop_back();
      if (db->store.path() == path) {
        db->magic = kLiveMagic;
        db->store.SetBusyTimeout(busy_timeout_ms);
        return db.release();
      }
    }
  }
  if (!AgentFolderPath(AgentFolder::kData)) return nullptr;
  auto store = ClientStore::Open(path, busy_timeout_ms);
  if (!store) return nullptr;
  return new CLDatabase{kLiveMagic, std::move(*store)};
}

bool IsValidStore(const CLDatabase* db) { return db != nullptr && db->magic == kLiveMagic; }

bool ReleaseStore(CLDatabase* db) {
  if (!IsValidStore(db)) return false;
  db->magic = 0;
  std::unique_ptr<CLDatabase> owned(db);
  const std::string path = StorePath();
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> guard(pool.lock);
  ForgetParentConnections(pool);
  if (owned->store.path() == path && pool.idle.size() < kMaxIdle) {
    pool.idle.push_back(std::move(owned));
  }
  return true;
}

void SetStoreBusyTimeoutMs(int busy_timeout_ms) { g_busy_timeout_ms.store(busy_timeout_ms); }

void DropIdleStores() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> guard(pool.lock);
  ForgetParentConnections(pool);
  pool.idle.clear();
}

}  // namespace agmisc
