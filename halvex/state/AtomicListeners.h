#pragma once

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <thread>

namespace halvex
{

/** Listeners that may be called from several threads at once, the audio thread among them.

    juce::ListenerList registers every running call in a list inside itself; two threads
    calling at once corrupt it. Here listeners live in fixed slots read with atomic loads,
    so a call neither locks nor allocates. Adding and removing belong to the message thread.
    Removing waits for calls running on other threads to finish, so a removed listener may
    be deleted at once. */
template <typename ListenerType, int capacity>
class AtomicListeners
{
public:
    AtomicListeners() = default;

    void add (ListenerType* l)
    {
        jassert (l != nullptr);

        for (auto& slot : slots)
            if (slot.load() == l)
                return;

        for (auto& slot : slots)
        {
            ListenerType* expected = nullptr;
            if (slot.compare_exchange_strong (expected, l))
                return;
        }

        jassertfalse; // more listeners than this list was sized for
    }

    void remove (ListenerType* l)
    {
        for (auto& slot : slots)
        {
            auto* expected = l;
            if (slot.compare_exchange_strong (expected, nullptr))
                break;
        }

        // Calls on other threads may still hold the pointer. Calls on the message thread are
        // this caller's own (a listener removing itself from inside a call) and cannot end first.
        while (callsInside.load() - messageThreadCallsInside.load() > 0)
            std::this_thread::yield();
    }

    /** Calls every listener, the highest slot first. */
    template <typename Callback>
    void call (Callback&& callback)
    {
        // No thread_local here: in a plug-in loaded with dlopen its first use on a thread
        // allocates, and the audio thread calls this.
        const auto onMessageThread = juce::MessageManager::existsAndIsCurrentThread();
        if (onMessageThread)
            messageThreadCallsInside.fetch_add (1);
        callsInside.fetch_add (1);

        for (auto i = slots.size(); i-- > 0;)
            if (auto* l = slots[i].load())
                callback (*l);

        callsInside.fetch_sub (1);
        if (onMessageThread)
            messageThreadCallsInside.fetch_sub (1);
    }

private:
    std::array<std::atomic<ListenerType*>, (size_t) capacity> slots {};
    std::atomic<int> callsInside { 0 }, messageThreadCallsInside { 0 };

    JUCE_DECLARE_NON_COPYABLE (AtomicListeners)
};

} // namespace halvex
