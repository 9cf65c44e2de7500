#pragma once

#include <atomic>

/** Counts heap allocations made on the current thread while a guard is alive. The test
    binary replaces malloc, calloc, realloc, aligned allocation and operator new, so any
    allocation inside the guarded scope (JUCE's HeapBlock included) is seen. */
class AllocationGuard
{
public:
    AllocationGuard();
    ~AllocationGuard();

    /** Allocations seen on this thread since the guard was made. */
    long count() const;

    AllocationGuard (const AllocationGuard&) = delete;
    AllocationGuard& operator= (const AllocationGuard&) = delete;

private:
    long startCount;
};
