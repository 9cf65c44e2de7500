#pragma once

#include <juce_core/juce_core.h>

/** Sees what a thread does while it runs the plug-in's audio callback. This executable
    defines the C library's allocation, locking, sleeping, file and thread-creation entry
    points (and operator new/delete), so calls from the loaded plug-in land here first;
    on a thread inside a Scope each one is recorded, then handed to the real function. */
namespace RealtimeWatch
{
enum class Kind { allocation, deallocation, contendedLock, spinYield, sleep, fileOpen, fileAccess, threadCreate, numKinds };

const char* kindName (Kind);

/** False in sanitizer builds, which bring their own allocator and interceptors. */
bool isAvailable();

/** Marks the calling thread as an audio thread while alive. */
class Scope
{
public:
    Scope() noexcept;
    ~Scope() noexcept;
    Scope (const Scope&) = delete;
    Scope& operator= (const Scope&) = delete;
};

/** Events recorded since the last reset, per kind. */
struct Counts
{
    long perKind[(int) Kind::numKinds] {};
    long total() const;
    juce::String describe() const; // "2 allocation, 1 contended lock"
    void add (const Counts&);
};

/** Code loaded from files whose path starts with this (a bundle's folder) is the plug-in. */
void attributeToModulesUnder (const juce::String& pathPrefix);

/** Who caused an event. The plug-in binary holds the product's code, whose symbols it
    exports, and JUCE's format wrapper, whose symbols it hides (or names in namespace juce):
    an event with a product function on its stack is the product's; one with only wrapper
    code of the plug-in on it was forced by the wrapper; one without the plug-in on its stack
    was JUCE's hosting code in this executable. */
enum class Source { host, wrapper, product, numSources };

Counts countsFrom (Source);
void reset();

/** The first few events from a source with their call stacks; for VELMORA_TRACE_EVENTS. */
juce::String describeRecordedStacks (Source, int maxEvents);

/** Loads what backtrace() needs ahead of time, so the first trace does not allocate. */
void prepareTracing();
} // namespace RealtimeWatch
