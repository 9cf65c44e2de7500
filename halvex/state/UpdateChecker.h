#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

namespace halvex
{

/** Asks the maker's update server whether a newer version exists ("lastVersion.php") and
    fetches its change log ("changeLogMac.php"), one request per start, on its own thread.
    Listeners hear the result on the message thread; a stopped request reports nothing.

    stop() returns within its time-out without killing the thread: it cancels the transfer,
    and the thread winds down on its own (the destructor waits for that). */
class UpdateChecker : public juce::Thread,
                      public juce::AsyncUpdater
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void versionChecked (UpdateChecker&, bool newerAvailable, juce::int64 releaseDate) = 0;
        virtual void changeLogReceived (UpdateChecker&, const juce::String& changeLog) = 0;
    };

    struct Version
    {
        int major = 0, minor = 0, patch = 0;
        bool beta = false;
        int betaNumber = 99; // a release ranks above every beta of its number

        static Version parse (const juce::String& text);
        int score() const noexcept { return major * 10000 + minor * 1000 + patch * 100 + betaNumber; }
    };

    static constexpr int stopTimeoutMs = 50;
    static constexpr juce::int64 checkIntervalMs = 86400000;      // a day between version checks
    static constexpr juce::int64 changeLogIntervalMs = 604800000;  // a week between change logs
    static constexpr const char* missingPageText = "the page you're looking for is not available";

    UpdateChecker (const juce::URL& baseAddress, const juce::String& currentVersion);
    ~UpdateChecker() override;

    /** Message thread. */
    void start();
    /** Message thread; false when the thread was still winding down at the time-out. */
    bool stop (int timeoutMs = stopTimeoutMs);

    void setChangeLogMode (bool shouldFetchChangeLog) noexcept { changeLogMode = shouldFetchChangeLog; }
    bool isChangeLogMode() const noexcept { return changeLogMode; }

    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }

    const Version& getCurrentVersion() const noexcept { return current; }
    const Version& getLatestVersion() const noexcept { return latest; }
    bool isNewerAvailable() const noexcept { return newerAvailable; }
    juce::int64 getReleaseDate() const noexcept { return releaseDate; }
    const juce::String& getChangeLog() const noexcept { return changeLog; }

    /** "key:value;key:value", later keys winning; quoted text is not split. */
    static juce::StringPairArray parseAnswer (const juce::String& answer);

    /** Whether an editor opening now should start a check: "checkVersionOnStartup" is "1"
        (or absent) and a day has passed since "lastVersionCheck". */
    static bool isCheckDue (juce::PropertiesFile*, juce::int64 nowMs);

    /** What an editor does with a version answer: fetch the change log when a newer version
        is out and either it was released within the last day or the last change log is more
        than a week old; record the check time either way. Message thread. */
    void handleVersionAnswer (juce::PropertiesFile*, bool newer, juce::int64 releaseDateMs, juce::int64 nowMs);

private:
    void run() override;
    void handleAsyncUpdate() override;
    bool fetch (const juce::String& path, juce::String& answer);

    const juce::URL baseAddress;
    const Version current;
    Version latest;
    bool newerAvailable = false;
    juce::int64 releaseDate = 0;
    juce::String changeLog;
    std::atomic<bool> changeLogMode { false };

    juce::CriticalSection streamLock;
    juce::WebInputStream* activeStream = nullptr; // guarded by streamLock

    juce::ListenerList<Listener> listeners;

    JUCE_DECLARE_NON_COPYABLE (UpdateChecker)
};

} // namespace halvex
