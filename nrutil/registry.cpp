// Live blocks with their sizes and shapes, and released block addresses. A released
// address stays remembered until the heap hands it out again as a block.
#include "nrutil/registry.h"

#include <cstdint>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace {
struct g_registry {
  std::unordered_map<uintptr_t, g_block_record> live;
  std::unordered_set<uintptr_t> released;
};

// Never destroyed: arrays may still be released while the process exits.
g_registry& g_registry_instance() {
  static g_registry* registry = new g_registry;
  return *registry;
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
  try {
    registry.released.insert(block);
  } catch (const std::bad_alloc&) {
    // Only the "already freed" diagnosis of a later double release is lost.
  }
}

g_block_state g_registry_find(uintptr_t block, g_block_record* record) {
  const g_registry& registry = g_registry_instance();
  const auto live = registry.live.find(block);
  if (live != registry.live.end()) {
    *record = live->second;
    return g_block_state::LIVE;
  }
  return registry.released.count(block) ? g_block_state::RELEASED : g_block_state::UNKNOWN;
}
