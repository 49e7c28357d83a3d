// Which addresses are live array blocks and which were handed back, so that
// the check never has to read memory the heap owns again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nrutil/block.h"

enum class g_block_state { LIVE, RELEASED, UNKNOWN };

// What the allocator made: the block's size and the shape its header must
// still describe.
struct g_block_record {
  size_t bytes = 0;
  g_shape shape;
};

// Blocks are known by their addresses as numbers, which stay valid keys
// after the memory went back to the heap.

// Records a new live block; false when the registry cannot grow.
bool g_registry_add(uintptr_t block, const g_block_record& record);
// Records the new bounds of a live block that a resize left in place.
void g_registry_reshape(uintptr_t block, const g_shape& shape);
// How many of the latest releases are remembered, to tell a double release
// (code 1) from a wild pointer without reading memory the heap took back.
// A double release usually follows its first release closely; 65536
// addresses cover that and keep the record under about 4 MB however many
// arrays a program releases. An address forgotten this way is checked like
// any unknown one.
constexpr size_t G_RELEASED_MEMORY = 65536;

// Records that the block went back to the heap; the oldest remembered
// release is forgotten when the record is full.
void g_registry_release(uintptr_t block);
// Released addresses remembered now.
size_t g_registry_released_count();
// Looks the block up; for a live block also gives its record.
g_block_state g_registry_find(uintptr_t block, g_block_record* record);
