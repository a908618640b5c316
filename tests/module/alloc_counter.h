// SPDX-License-Identifier: BSD-2-Clause
// Counts heap allocations made on the calling thread while counting is switched on: every
// operator new and, outside sanitizer builds, every malloc/calloc/realloc.
#pragma once

namespace alloc_counter {

// False in sanitizer builds, whose runtimes own the allocator.
bool available();

void start();       // resets the calling thread's count and starts counting
long stop();        // stops counting and returns the count

}  // namespace alloc_counter
