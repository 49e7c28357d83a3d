// The lower levels of an array: separate zero-filled arrays hanging under
// the pointer entries of the level above, down to the element arrays.
#pragma once

#include "nrutil/block.h"

// Fills entries [from, to) of a pointer array of level `parent` with
// complete zero-filled subtrees of the shape's bounds.
void g_build_entries(const g_shape& shape, int parent, void** entries, uint64_t from, uint64_t to);
// Hands back the subtrees under entries [from, to) of a pointer array of
// level `parent`, children before parents.
void g_free_entries(const g_shape& shape, int parent, void** entries, uint64_t from, uint64_t to);
// Brings the subtrees under entries [0, count) of a pointer array of level
// `parent` from the `before` bounds to the `after` bounds.
void g_resize_entries(const g_shape& before, const g_shape& after, int parent, void** entries,
                      uint64_t count);
