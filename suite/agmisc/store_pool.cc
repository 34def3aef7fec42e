#include "store_pool.h"

#include <pthread.h>

#include <atomic>
#include <map>
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
// Counts the connections opened and the pools dropped: either may mean a
// store file that is not the one a remembered value was written to.
std::atomic<uint64_t> g_store_generation{0};

// Counts the forks this process came out of. Telling a forked child by this
// counter instead of its process id spares a system call on every open and
// close of a handle (several per command the agent carries out).
std::atomic<unsigned> g_fork_generation{0};

struct Pool {
  Pool() {
    ::pthread_atfork(nullptr, nullptr, [] {
      g_fork_generation.fetch_add(1);
      g_store_generation.fetch_add(1);
    });
  }
  std::mutex lock;
  unsigned generation = g_fork_generation.load();  // guarded by lock
  std::vector<std::unique_ptr<CLDatabase>> idle;   // guarded by lock
};

Pool& ThePool() {
  static Pool* pool = new Pool;  // never destroyed: handles may be closed during exit
  return *pool;
}

// Called with the pool lock held. In a forked child the inherited
// connections belong to the parent: they are abandoned, not closed, because
// closing would touch the parent's file locks.
void ForgetParentConnections(Pool& pool) {
  const unsigned generation = g_fork_generation.load();
  if (pool.generation == generation) return;
  for (auto& db : pool.idle) static_cast<void>(db.release());
  pool.idle.clear();
  pool.generation = generation;
  g_store_generation.fetch_add(1);
}

// The bytes this process last wrote, per client value, to the store of
// `path` while the store generation was `generation`.
struct WrittenValues {
  std::mutex lock;  // held across the write, so that the last writer's bytes are the ones kept
  std::string path;
  uint64_t generation = 0;
  std::map<std::string, std::vector<uint8_t>, std::less<>> values;
};

WrittenValues& Written() {
  static WrittenValues* written = new WrittenValues;  // never destroyed, like the pool
  return *written;
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
  g_store_generation.fetch_add(1);
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
  g_store_generation.fetch_add(1);
}

bool SetValueUnlessWritten(const char* name, const void* bytes, uint32_t size) {
  WrittenValues& written = Written();
  std::lock_guard<std::mutex> guard(written.lock);
  const std::string path = StorePath();
  const uint64_t generation = g_store_generation.load();
  if (written.path != path || written.generation != generation) {
    written.values.clear();
    written.path = path;
    written.generation = generation;
  }
  const auto* first = static_cast<const uint8_t*>(bytes);
  std::vector<uint8_t> value(first, first + size);
  const auto known = written.values.find(name);
  if (known != written.values.end() && known->second == value) return true;
  written.values.erase(name);
  if (!WithStore([&](ClientStore& store) { return store.SetValue(name, bytes, size, false); })) return false;
  // A connection opened for this very write does not make the value unknown.
  if (g_store_generation.load() != written.generation) {
    written.values.clear();
    written.generation = g_store_generation.load();
  }
  written.values.emplace(name, std::move(value));
  return true;
}

}  // namespace agmisc
