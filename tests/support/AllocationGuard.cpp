#include "AllocationGuard.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <execinfo.h>

extern "C"
{
void* __libc_malloc (size_t);
void* __libc_calloc (size_t, size_t);
void* __libc_realloc (void*, size_t);
void* __libc_memalign (size_t, size_t);
void __libc_free (void*);
}

namespace
{
thread_local int guardDepth = 0;
thread_local long allocationCount = 0;

[[maybe_unused]] inline void noteAllocation() noexcept
{
    if (guardDepth > 0)
    {
        ++allocationCount;
        if (std::getenv ("VELMORA_TRACE_ALLOCATIONS") != nullptr && allocationCount < 3)
        {
            void* frames[32];
            const int n = backtrace (frames, 32);
            backtrace_symbols_fd (frames, n, 2);
        }
    }
}
} // namespace

AllocationGuard::AllocationGuard() : startCount (allocationCount) { ++guardDepth; }
AllocationGuard::~AllocationGuard() { --guardDepth; }
long AllocationGuard::count() const { return allocationCount - startCount; }

// Sanitizer builds bring their own allocator; the guard is then a no-op. GCC names them with
// macros, clang 14 only through __has_feature.
#if defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define VELMORA_NO_ALLOCATION_HOOKS 1
 #endif
#endif
#if ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__) && ! defined(VELMORA_NO_ALLOCATION_HOOKS)
extern "C"
{
void* malloc (size_t size)
{
    noteAllocation();
    return __libc_malloc (size);
}

void* calloc (size_t n, size_t size)
{
    noteAllocation();
    return __libc_calloc (n, size);
}

void* realloc (void* p, size_t size)
{
    noteAllocation();
    return __libc_realloc (p, size);
}

void* aligned_alloc (size_t alignment, size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

void* memalign (size_t alignment, size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

int posix_memalign (void** out, size_t alignment, size_t size)
{
    noteAllocation();
    *out = __libc_memalign (alignment, size);
    return *out != nullptr ? 0 : 12;
}

void free (void* p)
{
    __libc_free (p);
}
}

void* operator new (size_t size)
{
    noteAllocation();
    if (void* p = __libc_malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[] (size_t size) { return operator new (size); }
void* operator new (size_t size, const std::nothrow_t&) noexcept
{
    noteAllocation();
    return __libc_malloc (size == 0 ? 1 : size);
}
void* operator new[] (size_t size, const std::nothrow_t& t) noexcept { return operator new (size, t); }
void* operator new (size_t size, std::align_val_t a)
{
    noteAllocation();
    if (void* p = __libc_memalign ((size_t) a, size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[] (size_t size, std::align_val_t a) { return operator new (size, a); }
void operator delete (void* p) noexcept { __libc_free (p); }
void operator delete[] (void* p) noexcept { __libc_free (p); }
void operator delete (void* p, size_t) noexcept { __libc_free (p); }
void operator delete[] (void* p, size_t) noexcept { __libc_free (p); }
void operator delete (void* p, std::align_val_t) noexcept { __libc_free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { __libc_free (p); }
void operator delete (void* p, size_t, std::align_val_t) noexcept { __libc_free (p); }
void operator delete[] (void* p, size_t, std::align_val_t) noexcept { __libc_free (p); }
#endif
