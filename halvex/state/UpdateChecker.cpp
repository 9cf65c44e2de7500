#include "UpdateChecker.h"

namespace halvex
{

UpdateChecker::Version UpdateChecker::Version::parse (const juce::String& text)
{
    Version v;
    auto numbers = text;

    if (text.contains ("beta"))
    {
        v.beta = true;
        v.betaNumber = text.fromFirstOccurrenceOf ("beta", false, false).trim().getIntValue();
        numbers = text.upToFirstOccurrenceOf ("beta", false, false);
    }

    const auto pieces = juce::StringArray::fromTokens (numbers.trim(), ".", {});
    v.major = pieces[0].getIntValue();
    v.minor = pieces[1].getIntValue();
    v.patch = pieces[2].getIntValue();

    // The answer comes from the network: numbers past these would overflow score(), and a
    // beta numbered 99 or more would rank with or above its release.
    v.major = juce::jlimit (0, 99999, v.major);
    v.minor = juce::jlimit (0, 99999, v.minor);
    v.patch = juce::jlimit (0, 99999, v.patch);
    if (v.beta)
        v.betaNumber = juce::jlimit (0, 98, v.betaNumber);
    return v;
}

UpdateChecker::UpdateChecker (const juce::URL& base, const juce::String& currentVersion)
    : juce::Thread ("Web Updater"), baseAddress (base), current (Version::parse (currentVersion))
{
}

UpdateChecker::~UpdateChecker()
{
    stop();
    // A cancelled transfer ends within one network wait; never kill the thread mid-request.
    waitForThreadToExit (-1);
    cancelPendingUpdate();
}

void UpdateChecker::start()
{
    // A previous request still winding down after a stop must finish first.
    if (isThreadRunning())
        waitForThreadToExit (-1);

    startThread (juce::Thread::Priority::background);
}

bool UpdateChecker::stop (int timeoutMs)
{
    signalThreadShouldExit();

    {
        const juce::ScopedLock sl (streamLock);
        if (activeStream != nullptr)
            activeStream->cancel();
    }

    cancelPendingUpdate();
    return waitForThreadToExit (timeoutMs);
}

juce::StringPairArray UpdateChecker::parseAnswer (const juce::String& answer)
{
    juce::StringPairArray values;
    juce::StringArray tokens;
    tokens.addTokens (answer, ";", "\"");

    for (const auto& token : tokens)
    {
        if (! token.containsChar (':'))
            continue;

        const auto key = token.upToFirstOccurrenceOf (":", false, false).trim();
        const auto value = token.fromFirstOccurrenceOf (":", false, false).trim().unquoted();
        values.set (key, value);
    }

    return values;
}

bool UpdateChecker::fetch (const juce::String& path, juce::String& answer)
{
    juce::WebInputStream stream (baseAddress.getChildURL (path), false);

    {
        const juce::ScopedLock sl (streamLock);
        if (threadShouldExit())
            return false;
        activeStream = &stream;
    }

    const auto opened = stream.connect (nullptr) && ! threadShouldExit();

    if (opened)
        answer = stream.readEntireStreamAsString();

    const juce::ScopedLock sl (streamLock);
    activeStream = nullptr;
    return opened && ! threadShouldExit();
}

void UpdateChecker::run()
{
    if (changeLogMode)
    {
        juce::String answer;
        fetch ("changeLogMac.php", answer);
        changeLog = answer.contains (missingPageText) ? juce::String() : answer;
    }
    else
    {
        // A short grace period: an editor opened and closed at once costs no request.
        for (int i = 0; i < 49; ++i)
            if (wait (5), threadShouldExit())
                return;

        juce::String answer;

        if (fetch ("lastVersion.php", answer))
        {
            const auto values = parseAnswer (answer);
            latest = Version::parse (values.getValue ("macVersion", "0.0.0"));
            releaseDate = values.getValue ("macReleaseDate", "0").getLargeIntValue();
        }

        newerAvailable = current.score() < latest.score();
    }

    if (! threadShouldExit())
        triggerAsyncUpdate();
}

void UpdateChecker::handleAsyncUpdate()
{
    if (changeLogMode)
    {
        changeLogMode = false;
        const auto text = changeLog;
        listeners.call ([&] (Listener& l) { l.changeLogReceived (*this, text); });
    }
    else
    {
        const auto newer = newerAvailable;
        const auto date = releaseDate;
        listeners.call ([&] (Listener& l) { l.versionChecked (*this, newer, date); });
    }
}

bool UpdateChecker::isCheckDue (juce::PropertiesFile* preferences, juce::int64 nowMs)
{
    if (preferences == nullptr)
        return false;

    if (preferences->getValue ("checkVersionOnStartup", "1") != "1")
        return false;

    return nowMs - preferences->getValue ("lastVersionCheck").getLargeIntValue() >= checkIntervalMs;
}

void UpdateChecker::handleVersionAnswer (juce::PropertiesFile* preferences, bool newer, juce::int64 releaseDateMs, juce::int64 nowMs)
{
    const auto lastChangeLog = preferences != nullptr ? preferences->getValue ("lastChangeLogTime").getLargeIntValue() : 0;

    if (newer && (nowMs < releaseDateMs + checkIntervalMs || lastChangeLog + changeLogIntervalMs < nowMs))
    {
        if (preferences != nullptr)
            preferences->setValue ("lastChangeLogTime", juce::String (nowMs));

        stop();
        setChangeLogMode (true);
        start();
    }

    if (preferences != nullptr)
        preferences->setValue ("lastVersionCheck", juce::String (nowMs));
}

} // namespace halvex
