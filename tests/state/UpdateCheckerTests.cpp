// The update checker against an HTTP server this test runs on the loopback address: the
// answers a server may give, one that is not there, one that never answers, and the rules
// an editor applies to the result. Nothing here leaves 127.0.0.1.
#include "StateTestSupport.h"
#include "halvex/state/UpdateChecker.h"

#include <map>
#include <mutex>

namespace
{
using halvex::UpdateChecker;

/** Answers GET requests from a table of paths; optionally accepts and then never answers. */
class LoopbackServer : private juce::Thread
{
public:
    explicit LoopbackServer (bool neverAnswer = false) : juce::Thread ("loopback server"), silent (neverAnswer)
    {
        listener.createListener (0, "127.0.0.1");
        startThread();
    }

    ~LoopbackServer() override
    {
        signalThreadShouldExit();
        listener.close();
        stopThread (5000);
    }

    void route (const juce::String& path, int status, const juce::String& body)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        routes[path] = { status, body };
    }

    juce::URL base() const { return juce::URL ("http://127.0.0.1:" + juce::String (listener.getBoundPort()) + "/velmora/"); }

    juce::StringArray requests() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return seen;
    }

private:
    void run() override
    {
        std::vector<std::unique_ptr<juce::StreamingSocket>> held;

        while (! threadShouldExit())
        {
            std::unique_ptr<juce::StreamingSocket> client (listener.waitForNextConnection());
            if (client == nullptr)
                break;

            juce::String request;
            char buffer[1024];
            while (! request.contains ("\r\n\r\n") && client->waitUntilReady (true, 2000) == 1)
            {
                const auto n = client->read (buffer, sizeof (buffer), false);
                if (n <= 0)
                    break;
                request += juce::String::fromUTF8 (buffer, n);
            }

            const auto path = request.fromFirstOccurrenceOf (" ", false, false).upToFirstOccurrenceOf (" ", false, false);
            std::pair<int, juce::String> answer { 404, "<html>Sorry, the page you're looking for is not available.</html>" };
            {
                const std::lock_guard<std::mutex> lock (mutex);
                seen.add (path);
                if (const auto found = routes.find (path); found != routes.end())
                    answer = found->second;
            }

            if (silent)
            {
                held.push_back (std::move (client));
                continue;
            }

            const auto body = answer.second.toStdString();
            const auto head = "HTTP/1.1 " + std::to_string (answer.first) + (answer.first == 200 ? " OK" : " Not Found")
                              + "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string (body.size())
                              + "\r\nConnection: close\r\n\r\n";
            client->write (head.data(), (int) head.size());
            client->write (body.data(), (int) body.size());
        }
    }

    juce::StreamingSocket listener;
    const bool silent;
    mutable std::mutex mutex;
    std::map<juce::String, std::pair<int, juce::String>> routes;
    juce::StringArray seen;
};

struct Results : UpdateChecker::Listener
{
    int versions = 0, changeLogs = 0;
    bool newer = false;
    juce::int64 date = -1;
    juce::String changeLog;

    void versionChecked (UpdateChecker&, bool isNewer, juce::int64 releaseDate) override { ++versions; newer = isNewer; date = releaseDate; }
    void changeLogReceived (UpdateChecker&, const juce::String& text) override { ++changeLogs; changeLog = text; }
};

class UpdateCheck : public StateTest
{
protected:
    void SetUp() override
    {
        // Loopback only, whatever proxy the machine is configured with.
        setenv ("no_proxy", "*", 1);
        setenv ("NO_PROXY", "*", 1);
    }

    /** Runs one request and delivers its result here (this is the message thread). */
    static void runOnce (UpdateChecker& checker)
    {
        checker.start();
        ASSERT_TRUE (checker.waitForThreadToExit (20000));
        checker.handleUpdateNowIfNeeded();
    }
};

TEST (UpdateVersion, ScoresReleasesAboveTheirBetas)
{
    struct Case { const char* text; int score; };
    const Case cases[] { { "1.1.0", 11099 }, { "1.1.0 beta 3", 11003 }, { "1.1.1beta1", 11101 }, { "2", 20099 }, { "", 99 }, { "x.y", 99 } };

    for (const auto& c : cases)
        EXPECT_EQ (UpdateChecker::Version::parse (c.text).score(), c.score) << c.text;

    const auto answer = UpdateChecker::parseAnswer ("macVersion:1.0.0;macReleaseDate:5;note:\"a;b:c\";macVersion:1.2.0");
    EXPECT_EQ (answer["macVersion"], "1.2.0");
    EXPECT_EQ (answer["note"], "a;b:c");
}

TEST_F (UpdateCheck, ReportsOnlyAStrictlyNewerVersion)
{
    struct Case { const char* name; int status; const char* answer; bool newer; juce::int64 date; };
    const Case cases[] {
        { "newer", 200, "macVersion:1.2.0;macReleaseDate:0", true, 0 },
        { "newer with date", 200, "winVersion:9.9.9;macVersion:1.1.1;macReleaseDate:1765400000000", true, 1765400000000 },
        { "equal", 200, "macVersion:1.1.0;macReleaseDate:7", false, 7 },
        { "older", 200, "macVersion:1.0.9", false, 0 },
        { "beta of the next", 200, "macVersion:1.1.1 beta 2", true, 0 },
        { "beta of this one", 200, "macVersion:1.1.0 beta 9", false, 0 },
        { "no macVersion", 200, "winVersion:3.0.0;macReleaseDate:12", false, 12 },
        { "garbage", 200, "\x01\x02<<;;:::;\"", false, 0 },
        { "missing page", 404, "the page you're looking for is not available", false, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        LoopbackServer server;
        server.route ("/velmora/lastVersion.php", c.status, c.answer);

        UpdateChecker checker (server.base(), "1.1.0");
        Results results;
        checker.addListener (&results);
        runOnce (checker);

        EXPECT_EQ (results.versions, 1);
        EXPECT_EQ (results.newer, c.newer);
        EXPECT_EQ (results.date, c.date);
        EXPECT_EQ (server.requests(), juce::StringArray ("/velmora/lastVersion.php"));
    }
}

TEST_F (UpdateCheck, ChangeLogAndTheMissingPage)
{
    LoopbackServer server;
    server.route ("/velmora/changeLogMac.php", 200, "1.2.0: smoother Rand mode");

    UpdateChecker checker (server.base(), "1.1.0");
    Results results;
    checker.addListener (&results);
    checker.setChangeLogMode (true);
    runOnce (checker);
    EXPECT_EQ (results.changeLog, "1.2.0: smoother Rand mode");
    EXPECT_FALSE (checker.isChangeLogMode()) << "back to version requests";

    server.route ("/velmora/changeLogMac.php", 404, "Oops: the page you're looking for is not available");
    checker.setChangeLogMode (true);
    runOnce (checker);
    EXPECT_EQ (results.changeLogs, 2);
    EXPECT_EQ (results.changeLog, "");
}

TEST_F (UpdateCheck, NoServerMeansNothingNewer)
{
    int port = 0;
    {
        juce::StreamingSocket closed;
        closed.createListener (0, "127.0.0.1");
        port = closed.getBoundPort();
    }

    UpdateChecker checker (juce::URL ("http://127.0.0.1:" + juce::String (port) + "/"), "1.1.0");
    Results results;
    checker.addListener (&results);
    runOnce (checker);
    EXPECT_EQ (results.versions, 1);
    EXPECT_FALSE (results.newer);
}

TEST_F (UpdateCheck, StoppingAHangingRequestReturnsPromptlyAndReportsNothing)
{
    LoopbackServer server (true);
    auto checker = std::make_unique<UpdateChecker> (server.base(), "1.1.0");
    Results results;
    checker->addListener (&results);
    checker->start();

    // Wait until the request is at the server, then stop while it waits for an answer.
    for (int i = 0; i < 400 && server.requests().isEmpty(); ++i)
        juce::Thread::sleep (10);
    ASSERT_EQ (server.requests().size(), 1);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    checker->stop();
    const auto stopMs = juce::Time::getMillisecondCounterHiRes() - started;
    // Generous bound: the point is that it does not wait for the server.
    EXPECT_LT (stopMs, 1000.0);
    RecordProperty ("stopMs", juce::String (stopMs, 1).toStdString());

    checker->handleUpdateNowIfNeeded();
    checker.reset(); // waits for the cancelled transfer to wind down, without killing the thread
    EXPECT_EQ (results.versions, 0);
}

TEST_F (UpdateCheck, EditorRulesForWhenToAsk)
{
    juce::PropertiesFile prefs (folders.getRoot().getChildFile ("p.settings"), juce::PropertiesFile::Options());
    const juce::int64 now = 1765400000000, day = UpdateChecker::checkIntervalMs;

    struct Case { const char* startup; juce::int64 lastCheck; bool due; };
    const Case cases[] {
        { nullptr, 0, true }, { "1", now - day, true }, { "1", now - day + 1, false },
        { "0", 0, false }, { "true", 0, false }, { "yes", 0, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.startup != nullptr ? c.startup : "(absent)") + " " + juce::String (c.lastCheck));
        if (c.startup != nullptr)
            prefs.setValue ("checkVersionOnStartup", c.startup);
        else
            prefs.removeValue ("checkVersionOnStartup");
        prefs.setValue ("lastVersionCheck", juce::String (c.lastCheck));
        EXPECT_EQ (UpdateChecker::isCheckDue (&prefs, now), c.due);
    }
}

TEST_F (UpdateCheck, EditorRulesForFetchingTheChangeLog)
{
    LoopbackServer server;
    server.route ("/velmora/changeLogMac.php", 200, "notes");
    juce::PropertiesFile prefs (folders.getRoot().getChildFile ("p.settings"), juce::PropertiesFile::Options());
    const juce::int64 now = 1765400000000, day = UpdateChecker::checkIntervalMs;

    struct Case { const char* name; bool newer; juce::int64 release; juce::int64 lastChangeLog; bool fetches; };
    const Case cases[] {
        { "fresh release", true, now - day / 2, now - 1, true },
        { "old release, log a week old", true, 0, now - 8 * day, true },
        { "old release, recent log", true, 0, now - 3 * day, false },
        { "nothing newer", false, now, 0, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        prefs.setValue ("lastChangeLogTime", juce::String (c.lastChangeLog));
        prefs.removeValue ("lastVersionCheck");
        const auto before = server.requests().size();

        UpdateChecker checker (server.base(), "1.1.0");
        Results results;
        checker.addListener (&results);
        checker.handleVersionAnswer (&prefs, c.newer, c.release, now);
        ASSERT_TRUE (checker.waitForThreadToExit (20000));
        checker.handleUpdateNowIfNeeded();

        EXPECT_EQ (prefs.getValue ("lastVersionCheck"), juce::String (now));
        EXPECT_EQ (server.requests().size() - before, c.fetches ? 1 : 0);
        EXPECT_EQ (results.changeLog, c.fetches ? "notes" : "");
        EXPECT_EQ (prefs.getValue ("lastChangeLogTime"), juce::String (c.fetches ? now : c.lastChangeLog));
    }
}

} // namespace
