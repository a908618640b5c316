// SPDX-License-Identifier: BSD-2-Clause
#include "alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_COUNTER_OFF 1
#endif

namespace alloc_counter {

namespace {
thread_local bool t_counting = false;
thread_local long t_count = 0;

inline void note() {
    if (t_counting) ++t_count;
}
}  // namespace

void start() {
    t_count = 0;
    t_counting = true;
}

long stop() {
    t_counting = false;
    return t_count;
}

#ifdef ALLOC_COUNTER_OFF

bool available() { return false; }

#else

bool available() { return true; }

#endif

}  // namespace alloc_counter

#ifndef ALLOC_COUNTER_OFF

// The C library's allocator under its internal names; the replacements below forward to it.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) {
    alloc_counter::note();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    alloc_counter::note();
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size) {
    alloc_counter::note();
    return __libc_realloc(p, size);
}

void free(void* p) { __libc_free(p); }
}

namespace {

void* counted_new(std::size_t size) {
    alloc_counter::note();
    void* p = __libc_malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* counted_new_aligned(std::size_t size, std::align_val_t align) {
    alloc_counter::note();
    void* p = __libc_memalign(static_cast<std::size_t>(align), size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return counted_new(size); }
void* operator new[](std::size_t size) { return counted_new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    alloc_counter::note();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    alloc_counter::note();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t align) { return counted_new_aligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) {
    return counted_new_aligned(size, align);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { __libc_free(p); }

#endif
