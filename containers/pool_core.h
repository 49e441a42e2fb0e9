// The typed core of the memory pool's statistics (pool.h): what MEM_STATS
// adapts, for the library's own layers. Internal to the library.
#pragma once

#include <zeb/containers/pool.h>

namespace zeb::containers {

// pool_stats: the counters of a pool that MEM_INIT set up, counted since it
// was set up or its statistics were last reset. pool must not be null.
PoolStats pool_stats(void* pool);

// reset_pool_stats: zeroes the counters and starts a new elapsed period;
// used and maxused start again at the size carved so far.
void reset_pool_stats(void* pool);

}  // namespace zeb::containers
