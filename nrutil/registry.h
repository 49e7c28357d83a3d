// Which addresses are live array blocks and which were handed back, so that
// the check never has to read memory the heap owns again.
#pragma once

#include <cstddef>
#include <cstdint>

enum class g_block_state { LIVE, RELEASED, UNKNOWN };

// Blocks are known by their addresses as numbers, which stay valid keys
// after the memory went back to the heap.

// Records a new live block; false when the registry cannot grow.
bool g_registry_add(uintptr_t block, size_t bytes);
// Records that the block went back to the heap.
void g_registry_release(uintptr_t block);
// Looks the block up; for a live block also gives its size in bytes.
g_block_state g_registry_find(uintptr_t block, size_t* bytes);
