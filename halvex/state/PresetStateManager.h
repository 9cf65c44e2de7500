#pragma once

#include "AtomicListeners.h"

#include <juce_core/juce_core.h>

namespace halvex
{

/** A named piece of state that travels with presets and the host state: it writes itself
    into one child element of a document and reads itself back. Documents are assembled by
    asking each manager, in a fixed order, to append its element. */
class PresetStateManager
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        /** The managed state changed. Called on the thread that changed it, which may be the
            audio thread or a host's automation thread, several at once. */
        virtual void presetStateChanged (PresetStateManager&) = 0;
    };

    explicit PresetStateManager (const juce::String& elementName);
    virtual ~PresetStateManager();

    virtual void getState (juce::XmlElement& element) = 0;
    /** Hook for documents that hold no element for this manager; unused. */
    virtual bool handleMissingState (const juce::XmlElement& /*document*/) { return false; }
    virtual void setState (const juce::XmlElement& element) = 0;
    /** True when the document has a direct child named after this manager (any letter case). */
    virtual bool canLoadState (const juce::XmlElement& document) const;

    const juce::String& getName() const noexcept { return name; }

    /** Appends this manager's element to the document. */
    void addStateTo (juce::XmlElement& document);
    /** Applies this manager's element of the document; false (and no change) when it has none. */
    bool loadStateFrom (const juce::XmlElement& document);

    /** Message thread only. */
    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }

    /** First direct child with the tag, letter case ignored. */
    static const juce::XmlElement* findChild (const juce::XmlElement& parent, const juce::String& tag);

protected:
    /** Tells every listener; safe from any thread. */
    void notifyStateChanged();

private:
    const juce::String name;
    AtomicListeners<Listener, 8> listeners;

    JUCE_DECLARE_WEAK_REFERENCEABLE (PresetStateManager)
    JUCE_DECLARE_NON_COPYABLE (PresetStateManager)
};

} // namespace halvex
