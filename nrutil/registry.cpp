// Live blocks with their sizes and shapes, and the latest released block
// addresses. A released address is forgotten when the heap hands it out
// again as a block, or when G_RELEASED_MEMORY later releases have pushed it
// out of the record.
#include "nrutil/registry.h"

#include <cstdint>
#include <new>
#include <unordered_map>

namespace {
// One release, in the order releases happened.
struct g_release {
  uintptr_t block;
  uint64_t serial;
};

struct g_registry {
  std::unordered_map<uintptr_t, g_block_record> live;
  // Address -> serial of its latest release still remembered.
  std::unordered_map<uintptr_t, uint64_t> released;
  // The latest releases, oldest at releases[serial % size] once it is full.
  // An entry whose address was handed out again, or released again later,
  // no longer matches `released` and is skipped when pushed out.
  g_release releases[G_RELEASED_MEMORY];
  uint64_t nextSerial = 0;
};

// Never destroyed: arrays may still be released while the process exits.
g_registry& g_registry_instance() {
  static g_registry* registry = new g_registry;
  return *registry;
}

// Hands back the bucket array of a table that has emptied out, so that a
// program that once had a million arrays live does not keep their buckets;
// shrinking only at an eighth keeps the cost constant per release.
void g_shrink_when_sparse(std::unordered_map<uintptr_t, g_block_record>& live) {
  if (live.bucket_count() < 1024 || live.size() > live.bucket_count() / 8) return;
  try {
    live.rehash(0);
  } catch (const std::bad_alloc&) {
    // The table stays as large as it was.
  }
}

void g_forget_oldest_release(g_registry& registry, g_release oldest) {
  const auto remembered = registry.released.find(oldest.block);
  if (remembered != registry.released.end() && remembered->second == oldest.serial)
    registry.released.erase(remembered);
}
}  // namespace

bool g_registry_add(uintptr_t block, const g_block_record& record) {
  g_registry& registry = g_registry_instance();
  try {
    registry.live[block] = record;
  } catch (const std::bad_alloc&) {
    return false;
  }
  registry.released.erase(block);
  return true;
}

void g_registry_reshape(uintptr_t block, const g_shape& shape) {
  const auto live = g_registry_instance().live.find(block);
  if (live != g_registry_instance().live.end()) live->second.shape = shape;
}

void g_registry_release(uintptr_t block) {
  g_registry& registry = g_registry_instance();
  registry.live.erase(block);
  g_shrink_when_sparse(registry.live);
  const uint64_t serial = registry.nextSerial++;
  g_release& slot = registry.releases[serial % G_RELEASED_MEMORY];
  if (serial >= G_RELEASED_MEMORY) g_forget_oldest_release(registry, slot);
  slot = {block, serial};
  try {
    registry.released[block] = serial;
  } catch (const std::bad_alloc&) {
    // Only the "already freed" diagnosis of a later double release is lost.
    registry.released.erase(block);
  }
}

size_t g_registry_released_count() { return g_registry_instance().released.size(); }

g_block_state g_registry_find(uintptr_t block, g_block_record* record) {
  const g_registry& registry = g_registry_instance();
  const auto live = registry.live.find(block);
  if (live != registry.live.end()) {
    *record = live->second;
    return g_block_state::LIVE;
  }
  return registry.released.count(block) ? g_block_state::RELEASED : g_block_state::UNKNOWN;
}
