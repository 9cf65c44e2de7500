#include "RealtimeWatch.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cxxabi.h>
#include <link.h>
#include <string>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
  #define VELMORA_WATCH_OFF 1
 #endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define VELMORA_WATCH_OFF 1
#endif

namespace RealtimeWatch
{
namespace
{
// Plain thread_locals of trivial type: no TLS initialiser runs inside an allocator hook.
thread_local int scopeDepth = 0;
thread_local bool insideHook = false;

constexpr int numSources = (int) Source::numSources;
std::atomic<long> perKind[numSources][(int) Kind::numKinds] {};

// The plug-in's loaded segments, found once per check outside any hook.
constexpr int maxRanges = 16;
struct Range { std::uintptr_t start, end; };
Range pluginRanges[maxRanges];
std::atomic<int> numPluginRanges { 0 };

constexpr int maxStored = 8, maxFrames = 40;
struct Stored
{
    Kind kind;
    char detail[96];
    int frames;
    void* stack[maxFrames];
};
Stored stored[numSources][maxStored];
std::atomic<int> storedCount[numSources] {};

bool inPlugin (std::uintptr_t address) noexcept
{
    const int ranges = numPluginRanges.load (std::memory_order_acquire);
    for (int r = 0; r < ranges; ++r)
        if (address >= pluginRanges[r].start && address < pluginRanges[r].end)
            return true;
    return false;
}

/** An exported function of the plug-in outside JUCE's and the VST3 SDK's namespaces. The
    lookup takes the loader's lock; it is recursive, so even an allocation the loader makes
    itself (a thread's first touch of a module's thread_local) can ask. */
bool isProductCode (void* address) noexcept
{
    Dl_info info {};
    if (dladdr (address, &info) == 0 || info.dli_sname == nullptr)
        return false;
    return std::strstr (info.dli_sname, "4juce") == nullptr && std::strstr (info.dli_sname, "9Steinberg") == nullptr;
}

Source sourceOf (void* const* frames, int n) noexcept
{
    bool plugin = false;
    for (int f = 0; f < n; ++f)
    {
        if (! inPlugin ((std::uintptr_t) frames[f]))
            continue;
        if (isProductCode (frames[f]))
            return Source::product;
        plugin = true;
    }
    return plugin ? Source::wrapper : Source::host;
}

/** True when this call should be recorded; the caller then ends with leave(). */
inline bool enter() noexcept
{
    if (scopeDepth == 0 || insideHook)
        return false;
    insideHook = true;
    return true;
}

inline void leave() noexcept { insideHook = false; }

void record (Kind kind, const char* detail) noexcept
{
    void* stack[maxFrames];
    const int frames = backtrace (stack, maxFrames);
    const int side = (int) sourceOf (stack, frames);
    perKind[side][(int) kind].fetch_add (1, std::memory_order_relaxed);

    const int slot = storedCount[side].fetch_add (1, std::memory_order_relaxed);
    if (slot >= maxStored)
        return;
    auto& s = stored[side][slot];
    s.kind = kind;
    std::snprintf (s.detail, sizeof s.detail, "%s", detail);
    s.frames = frames;
    std::memcpy (s.stack, stack, sizeof stack);
}

[[maybe_unused]] void note (Kind kind, const char* detail = "") noexcept
{
    if (! enter())
        return;
    record (kind, detail);
    leave();
}

[[maybe_unused]] const char* describeFd (int fd) noexcept
{
    struct stat st;
    if (fstat (fd, &st) != 0)
        return "bad descriptor";
    if (S_ISREG (st.st_mode)) return "regular file";
    if (S_ISFIFO (st.st_mode)) return "pipe";
    if (S_ISSOCK (st.st_mode)) return "socket";
    if (S_ISCHR (st.st_mode)) return "character device";
    return "other descriptor";
}

template <typename Fn>
Fn realSymbol (std::atomic<Fn>& cache, const char* name) noexcept
{
    auto f = cache.load (std::memory_order_acquire);
    if (f == nullptr)
    {
        f = reinterpret_cast<Fn> (dlsym (RTLD_NEXT, name));
        cache.store (f, std::memory_order_release);
    }
    return f;
}
} // namespace

/** "function (module+offset)"; hidden symbols show as module+offset, for addr2line. */
static juce::String describeFrame (void* address)
{
    Dl_info info {};
    if (dladdr (address, &info) == 0 || info.dli_fname == nullptr)
        return juce::String::toHexString ((juce::pointer_sized_int) address);
    const auto offset = (std::uintptr_t) address - (std::uintptr_t) info.dli_fbase;
    juce::String name = "?";
    if (info.dli_sname != nullptr)
    {
        int status = 0;
        char* demangled = abi::__cxa_demangle (info.dli_sname, nullptr, nullptr, &status);
        name = status == 0 && demangled != nullptr ? juce::String (demangled) : juce::String (info.dli_sname);
        std::free (demangled);
    }
    return name.substring (0, 160) + "  (" + juce::File (info.dli_fname).getFileName() + "+0x" + juce::String::toHexString ((juce::int64) offset) + ")";
}

const char* kindName (Kind k)
{
    switch (k)
    {
        case Kind::allocation:    return "allocation";
        case Kind::deallocation:  return "deallocation";
        case Kind::contendedLock: return "contended lock";
        case Kind::spinYield:     return "yield";
        case Kind::sleep:         return "sleep";
        case Kind::fileOpen:      return "open";
        case Kind::fileAccess:    return "read/write";
        case Kind::threadCreate:  return "thread creation";
        case Kind::numKinds:      break;
    }
    return "?";
}

bool isAvailable()
{
#if VELMORA_WATCH_OFF
    return false;
#else
    return true;
#endif
}

Scope::Scope() noexcept { ++scopeDepth; }
Scope::~Scope() noexcept { --scopeDepth; }

long Counts::total() const
{
    long sum = 0;
    for (auto n : perKind)
        sum += n;
    return sum;
}

juce::String Counts::describe() const
{
    juce::StringArray parts;
    for (int k = 0; k < (int) Kind::numKinds; ++k)
        if (perKind[k] > 0)
            parts.add (juce::String (perKind[k]) + " " + kindName ((Kind) k));
    return parts.isEmpty() ? juce::String ("none") : parts.joinIntoString (", ");
}

void Counts::add (const Counts& other)
{
    for (int k = 0; k < (int) Kind::numKinds; ++k)
        perKind[k] += other.perKind[k];
}

void attributeToModulesUnder (const juce::String& pathPrefix)
{
    struct Search
    {
        std::string prefix;
        int found = 0;
    } search { pathPrefix.toStdString() };

    numPluginRanges.store (0);
    dl_iterate_phdr ([] (dl_phdr_info* info, size_t, void* data)
    {
        auto& s = *static_cast<Search*> (data);
        if (info->dlpi_name == nullptr || std::string (info->dlpi_name).rfind (s.prefix, 0) != 0)
            return 0;
        for (int h = 0; h < info->dlpi_phnum && s.found < maxRanges; ++h)
            if (info->dlpi_phdr[h].p_type == PT_LOAD)
            {
                const auto start = (std::uintptr_t) (info->dlpi_addr + info->dlpi_phdr[h].p_vaddr);
                pluginRanges[s.found++] = { start, start + (std::uintptr_t) info->dlpi_phdr[h].p_memsz };
            }
        return 0;
    }, &search);
    numPluginRanges.store (search.found, std::memory_order_release);
}

Counts countsFrom (Source source)
{
    Counts c;
    for (int k = 0; k < (int) Kind::numKinds; ++k)
        c.perKind[k] = perKind[(int) source][k].load();
    return c;
}

void reset()
{
    for (int s = 0; s < numSources; ++s)
    {
        for (auto& n : perKind[s])
            n.store (0);
        storedCount[s].store (0);
    }
}

juce::String describeRecordedStacks (Source source, int maxEvents)
{
    juce::String text;
    const int side = (int) source;
    const int n = juce::jmin (maxEvents, storedCount[side].load(), maxStored);
    for (int i = 0; i < n; ++i)
    {
        const auto& s = stored[side][i];
        text << "  event " << (i + 1) << ": " << kindName (s.kind);
        if (s.detail[0] != '\0')
            text << " (" << s.detail << ")";
        text << "\n";
        // The first two frames are record() and its caller in this file.
        for (int f = 2; f < s.frames; ++f)
            text << "      " << describeFrame (s.stack[f]) << "\n";
    }
    return text;
}

void prepareTracing()
{
    void* frames[4];
    backtrace (frames, 4);
}
} // namespace RealtimeWatch

#if ! VELMORA_WATCH_OFF
using RealtimeWatch::Kind;
using RealtimeWatch::note;

extern "C"
{
void* __libc_malloc (size_t);
void* __libc_calloc (size_t, size_t);
void* __libc_realloc (void*, size_t);
void* __libc_memalign (size_t, size_t);
void __libc_free (void*);

#define VELMORA_EXPORT __attribute__ ((visibility ("default")))

VELMORA_EXPORT void* malloc (size_t size)
{
    note (Kind::allocation, "malloc");
    return __libc_malloc (size);
}

VELMORA_EXPORT void* calloc (size_t n, size_t size)
{
    note (Kind::allocation, "calloc");
    return __libc_calloc (n, size);
}

VELMORA_EXPORT void* realloc (void* p, size_t size)
{
    note (Kind::allocation, "realloc");
    return __libc_realloc (p, size);
}

VELMORA_EXPORT void* aligned_alloc (size_t alignment, size_t size)
{
    note (Kind::allocation, "aligned_alloc");
    return __libc_memalign (alignment, size);
}

VELMORA_EXPORT void* memalign (size_t alignment, size_t size)
{
    note (Kind::allocation, "memalign");
    return __libc_memalign (alignment, size);
}

VELMORA_EXPORT int posix_memalign (void** out, size_t alignment, size_t size)
{
    note (Kind::allocation, "posix_memalign");
    if (alignment < sizeof (void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    *out = __libc_memalign (alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}

VELMORA_EXPORT void free (void* p)
{
    if (p != nullptr)
        note (Kind::deallocation, "free");
    __libc_free (p);
}

//==============================================================================
// Locks count only when they would block: JUCE's callback lock, taken uncontended around
// every audio callback, costs no more than an atomic exchange.
VELMORA_EXPORT int pthread_mutex_lock (pthread_mutex_t* m)
{
    using Fn = int (*) (pthread_mutex_t*);
    static std::atomic<Fn> realLock { nullptr }, realTry { nullptr };
    if (RealtimeWatch::scopeDepth > 0 && ! RealtimeWatch::insideHook)
    {
        if (RealtimeWatch::realSymbol (realTry, "pthread_mutex_trylock") (m) == 0)
            return 0;
        note (Kind::contendedLock, "pthread_mutex_lock");
    }
    return RealtimeWatch::realSymbol (realLock, "pthread_mutex_lock") (m);
}

VELMORA_EXPORT int sched_yield()
{
    using Fn = int (*)();
    static std::atomic<Fn> real { nullptr };
    note (Kind::spinYield, "sched_yield");
    return RealtimeWatch::realSymbol (real, "sched_yield")();
}

VELMORA_EXPORT int nanosleep (const struct timespec* duration, struct timespec* remaining)
{
    using Fn = int (*) (const struct timespec*, struct timespec*);
    static std::atomic<Fn> real { nullptr };
    note (Kind::sleep, "nanosleep");
    return RealtimeWatch::realSymbol (real, "nanosleep") (duration, remaining);
}

VELMORA_EXPORT int clock_nanosleep (clockid_t clock, int flags, const struct timespec* duration, struct timespec* remaining)
{
    using Fn = int (*) (clockid_t, int, const struct timespec*, struct timespec*);
    static std::atomic<Fn> real { nullptr };
    note (Kind::sleep, "clock_nanosleep");
    return RealtimeWatch::realSymbol (real, "clock_nanosleep") (clock, flags, duration, remaining);
}

VELMORA_EXPORT int usleep (useconds_t microseconds)
{
    using Fn = int (*) (useconds_t);
    static std::atomic<Fn> real { nullptr };
    note (Kind::sleep, "usleep");
    return RealtimeWatch::realSymbol (real, "usleep") (microseconds);
}

VELMORA_EXPORT unsigned int sleep (unsigned int seconds)
{
    using Fn = unsigned int (*) (unsigned int);
    static std::atomic<Fn> real { nullptr };
    note (Kind::sleep, "sleep");
    return RealtimeWatch::realSymbol (real, "sleep") (seconds);
}

//==============================================================================
namespace
{
mode_t modeArgument (int flags, va_list args)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t) va_arg (args, int) : 0;
}
} // namespace

VELMORA_EXPORT int open (const char* path, int flags, ...)
{
    using Fn = int (*) (const char*, int, ...);
    static std::atomic<Fn> real { nullptr };
    va_list args;
    va_start (args, flags);
    const auto mode = modeArgument (flags, args);
    va_end (args);
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "open") (path, flags, mode);
}

VELMORA_EXPORT int open64 (const char* path, int flags, ...)
{
    using Fn = int (*) (const char*, int, ...);
    static std::atomic<Fn> real { nullptr };
    va_list args;
    va_start (args, flags);
    const auto mode = modeArgument (flags, args);
    va_end (args);
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "open64") (path, flags, mode);
}

VELMORA_EXPORT int openat (int dir, const char* path, int flags, ...)
{
    using Fn = int (*) (int, const char*, int, ...);
    static std::atomic<Fn> real { nullptr };
    va_list args;
    va_start (args, flags);
    const auto mode = modeArgument (flags, args);
    va_end (args);
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "openat") (dir, path, flags, mode);
}

VELMORA_EXPORT int openat64 (int dir, const char* path, int flags, ...)
{
    using Fn = int (*) (int, const char*, int, ...);
    static std::atomic<Fn> real { nullptr };
    va_list args;
    va_start (args, flags);
    const auto mode = modeArgument (flags, args);
    va_end (args);
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "openat64") (dir, path, flags, mode);
}

VELMORA_EXPORT FILE* fopen (const char* path, const char* mode)
{
    using Fn = FILE* (*) (const char*, const char*);
    static std::atomic<Fn> real { nullptr };
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "fopen") (path, mode);
}

VELMORA_EXPORT FILE* fopen64 (const char* path, const char* mode)
{
    using Fn = FILE* (*) (const char*, const char*);
    static std::atomic<Fn> real { nullptr };
    note (Kind::fileOpen, path);
    return RealtimeWatch::realSymbol (real, "fopen64") (path, mode);
}

VELMORA_EXPORT ssize_t read (int fd, void* buffer, size_t size)
{
    using Fn = ssize_t (*) (int, void*, size_t);
    static std::atomic<Fn> real { nullptr };
    if (RealtimeWatch::enter())
    {
        char detail[64];
        std::snprintf (detail, sizeof detail, "read from a %s", RealtimeWatch::describeFd (fd));
        RealtimeWatch::record (Kind::fileAccess, detail);
        RealtimeWatch::leave();
    }
    return RealtimeWatch::realSymbol (real, "read") (fd, buffer, size);
}

VELMORA_EXPORT ssize_t write (int fd, const void* buffer, size_t size)
{
    using Fn = ssize_t (*) (int, const void*, size_t);
    static std::atomic<Fn> real { nullptr };
    if (RealtimeWatch::enter())
    {
        char detail[64];
        std::snprintf (detail, sizeof detail, "write to a %s", RealtimeWatch::describeFd (fd));
        RealtimeWatch::record (Kind::fileAccess, detail);
        RealtimeWatch::leave();
    }
    return RealtimeWatch::realSymbol (real, "write") (fd, buffer, size);
}

VELMORA_EXPORT int pthread_create (pthread_t* thread, const pthread_attr_t* attributes, void* (*start) (void*), void* argument)
{
    using Fn = int (*) (pthread_t*, const pthread_attr_t*, void* (*) (void*), void*);
    static std::atomic<Fn> real { nullptr };
    note (Kind::threadCreate, "pthread_create");
    return RealtimeWatch::realSymbol (real, "pthread_create") (thread, attributes, start, argument);
}
} // extern "C"

//==============================================================================
VELMORA_EXPORT void* operator new (size_t size)
{
    note (Kind::allocation, "operator new");
    if (void* p = __libc_malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
VELMORA_EXPORT void* operator new[] (size_t size)
{
    note (Kind::allocation, "operator new[]");
    if (void* p = __libc_malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
VELMORA_EXPORT void* operator new (size_t size, const std::nothrow_t&) noexcept
{
    note (Kind::allocation, "operator new");
    return __libc_malloc (size == 0 ? 1 : size);
}
VELMORA_EXPORT void* operator new[] (size_t size, const std::nothrow_t&) noexcept
{
    note (Kind::allocation, "operator new[]");
    return __libc_malloc (size == 0 ? 1 : size);
}
VELMORA_EXPORT void* operator new (size_t size, std::align_val_t a)
{
    note (Kind::allocation, "aligned operator new");
    if (void* p = __libc_memalign ((size_t) a, size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
VELMORA_EXPORT void* operator new[] (size_t size, std::align_val_t a)
{
    note (Kind::allocation, "aligned operator new[]");
    if (void* p = __libc_memalign ((size_t) a, size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
VELMORA_EXPORT void* operator new (size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    note (Kind::allocation, "aligned operator new");
    return __libc_memalign ((size_t) a, size == 0 ? 1 : size);
}
VELMORA_EXPORT void* operator new[] (size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    note (Kind::allocation, "aligned operator new[]");
    return __libc_memalign ((size_t) a, size == 0 ? 1 : size);
}

namespace
{
inline void release (void* p) noexcept
{
    if (p != nullptr)
        note (Kind::deallocation, "operator delete");
    __libc_free (p);
}
} // namespace

VELMORA_EXPORT void operator delete (void* p) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p) noexcept { release (p); }
VELMORA_EXPORT void operator delete (void* p, size_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p, size_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete (void* p, const std::nothrow_t&) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p, const std::nothrow_t&) noexcept { release (p); }
VELMORA_EXPORT void operator delete (void* p, std::align_val_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p, std::align_val_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete (void* p, size_t, std::align_val_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p, size_t, std::align_val_t) noexcept { release (p); }
VELMORA_EXPORT void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { release (p); }
VELMORA_EXPORT void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { release (p); }
#endif
