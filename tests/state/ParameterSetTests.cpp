// The two parameter sets: native framework parameters (clamping, the quarter-step threshold,
// undo coalescing, two-pass loading) and the processor's own parameters as a preset element.
#include "StateTestSupport.h"

#include <thread>

namespace
{
using halvex::Param;
using halvex::ParamSet;

struct CountingListener : Param::Listener
{
    int calls = 0;
    int lastSource = -1;
    void paramValueChanged (Param&, int source, double, double) override { ++calls; lastSource = source; }
};

std::unique_ptr<Param> makeParam (const char* id, double lo, double hi, double step, double def)
{
    return std::make_unique<Param> (id, id, "", lo, hi, step, def);
}

TEST (NativeParam, ClampsIgnoresQuarterStepsAndHonoursTheLock)
{
    Param p ("Gain", "Gain", "dB", 10.0, -10.0, 1.0, 0.0); // reversed range
    CountingListener listener;
    p.addListener (&listener);

    p.setValue (25.0, 1, nullptr);
    EXPECT_EQ (p.getValue(), 10.0);
    p.setValue (-99.0, 1, nullptr);
    EXPECT_EQ (p.getValue(), -10.0);
    EXPECT_EQ (listener.calls, 2);

    p.setValue (-9.8, 1, nullptr); // within a quarter of the interval: nothing at all
    EXPECT_EQ (p.getValue(), -10.0);
    EXPECT_EQ (listener.calls, 2);

    p.isLocked = true;
    p.setValue (3.0, 1, nullptr);
    EXPECT_EQ (p.getValue(), -10.0);
    p.removeListener (&listener);
}

TEST (NativeParam, SuccessiveEditsCoalesceIntoOneUndoStep)
{
    Param p ("Depth", "Depth", "%", 0.0, 100.0, 0.0, 50.0);
    juce::UndoManager undo;

    undo.beginNewTransaction();
    p.setValue (60.0, 1, &undo);
    p.setValue (70.0, 1, &undo);
    p.setValue (80.0, 7, &undo); // any code above 4 is a user edit too
    EXPECT_EQ (p.getValue(), 80.0);
    EXPECT_EQ (undo.getNumActionsInCurrentTransaction(), 1);

    p.setValue (90.0, halvex::ParamSource::host, &undo); // automation is never recorded
    EXPECT_EQ (undo.getNumActionsInCurrentTransaction(), 1);

    ASSERT_TRUE (undo.undo());
    EXPECT_EQ (p.getValue(), 50.0);
    ASSERT_TRUE (undo.redo());
    EXPECT_EQ (p.getValue(), 80.0);
}

TEST (NativeParamSet, LoadsMetaParametersFirstAndFillsTheGaps)
{
    ParamSet set;
    auto& meta = set.addParam (makeParam ("Range", 2.0, 8.0, 1.0, 4.0));
    meta.isMeta = true;
    auto& a = set.addParam (makeParam ("A", 0.0, 1.0, 0.0, 0.25));
    auto& frozen = set.addParam (makeParam ("F", 0.0, 1.0, 0.0, 0.5));
    frozen.isFrozen = true;

    juce::StringArray order;
    struct Order : Param::Listener
    {
        juce::StringArray& order;
        explicit Order (juce::StringArray& o) : order (o) {}
        void paramValueChanged (Param& p, int, double, double) override { order.add (p.paramID); }
    } recorder (order);
    for (auto* p : { &meta, &a, &frozen })
        p->addListener (&recorder);

    juce::XmlElement element ("PARAMS");
    element.setAttribute ("A", 0.7);
    element.setAttribute ("F", 0.9);
    element.setAttribute ("Range", 6.0);
    set.setState (element);
    EXPECT_EQ (order.joinIntoString (","), "Range,A");
    EXPECT_DOUBLE_EQ (a.getValue(), (double) 0.7f); // stored through single precision
    EXPECT_EQ (frozen.getValue(), 0.5);

    // Missing attributes: meta parameters fall to their lower end, the rest to their default.
    set.setState (juce::XmlElement ("PARAMS"));
    EXPECT_EQ (meta.getValue(), 2.0);
    EXPECT_EQ (a.getValue(), 0.25);

    juce::XmlElement written ("PARAMS");
    set.getState (written);
    EXPECT_EQ (written.getStringAttribute ("Range"), "2.0");
    for (auto* p : { &meta, &a, &frozen })
        p->removeListener (&recorder);
}

// Values reach native parameters from MIDI on the audio thread while the message thread sets
// them too; listeners come and go on the message thread meanwhile. A listener list that is not
// safe for concurrent calls corrupts itself here (ThreadSanitizer reports it in CI).
TEST (NativeParam, ChangesFromSeveralThreadsAtOnceReachEveryListener)
{
    Param p ("Gain", "Gain", "", 0.0, 127.0, 1.0, 0.0);
    struct Counting : Param::Listener
    {
        std::atomic<long> calls { 0 };
        void paramValueChanged (Param&, int, double, double) override { ++calls; }
    } steady, transient;
    p.addListener (&steady);

    std::atomic<bool> running { true };
    std::atomic<long> midiChanges { 0 };
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t)
        writers.emplace_back ([&, t]
        {
            for (int i = 0; running.load(); ++i, ++midiChanges)
                p.setValueFromMidi ((i * 2 + t) % 128, 2);
        });

    for (int i = 0; i < 2000 || midiChanges.load() < 20000; ++i)
    {
        p.setValue ((double) (i % 128), 0, nullptr);
        p.addListener (&transient);
        p.removeListener (&transient);
    }

    running = false;
    for (auto& w : writers)
        w.join();

    EXPECT_GT (steady.calls.load(), 2000) << "the listener that stayed heard the changes";
    const auto after = transient.calls.load();
    p.setValue (p.getValue() < 64.0 ? 100.0 : 10.0, 0, nullptr);
    EXPECT_EQ (transient.calls.load(), after) << "a removed listener is not called again";
    p.removeListener (&steady);
}

class ProcessorSet : public StateTest
{
protected:
    std::unique_ptr<VelmoraProcessor> p = makeInstance();
};

TEST_F (ProcessorSet, MissingAttributesResetUnlessFrozenAndEqualValuesStayQuiet)
{
    ProcessorHarness::set (*p, "Mix", 80.0f);
    ProcessorHarness::set (*p, "RetroRate", 10.0f);
    ProcessorHarness::set (*p, "Lowpass", 5000.0f);
    p->getFreezer()->setFrozen ("RetroRate", true);

    juce::XmlElement element ("PARAMS");
    element.setAttribute ("Lowpass", 5000.0);
    element.setAttribute ("RetroRate", 77.0);
    p->getProcessorParams().setState (element);

    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 50.0f);
    EXPECT_FLOAT_EQ (plain (*p, "RetroRate"), 10.0f);
    EXPECT_NEAR (plain (*p, "Lowpass"), 5000.0f, 0.01f);

    struct Counter : juce::AudioProcessorListener
    {
        int changes = 0;
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++changes; }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    } counter;
    p->addListener (&counter);

    juce::XmlElement same ("PARAMS");
    p->getProcessorParams().getState (same);
    p->getProcessorParams().setState (same);
    EXPECT_EQ (counter.changes, 0);
    p->removeListener (&counter);
}

TEST_F (ProcessorSet, WritesPlainValuesThatReadBackExactly)
{
    ProcessorHarness::set (*p, "Mode", 2.0f);
    ProcessorHarness::set (*p, "OutputGain", -3.5f);
    ProcessorHarness::set (*p, "Hipass", 123.4f);

    juce::XmlElement element ("PARAMS");
    p->getProcessorParams().getState (element);
    EXPECT_EQ (element.getNumAttributes(), 20);
    EXPECT_EQ (element.getAttributeName (0), "Mode");
    EXPECT_EQ (element.getStringAttribute ("Mode"), "2");
    EXPECT_EQ (element.getStringAttribute ("OutputGain"), "-3.5");

    auto other = makeInstance();
    other->getProcessorParams().setState (element);
    for (auto* param : p->getParameters())
        EXPECT_EQ (param->getValue(), other->getParameters()[param->getParameterIndex()]->getValue()) << param->getName (32);
}

// Host automation arrives on several threads at once (the audio thread during playback and
// the host's own threads otherwise); each change marks the loaded preset modified.
TEST_F (ProcessorSet, AutomationFromSeveralThreadsAtOnceMarksThePresetModified)
{
    auto* manager = p->getPresetManager();
    ASSERT_NE (manager, nullptr);
    const auto preset = writePreset (userPresets().getChildFile ("Calm.qopreset"), "Mix=40");
    manager->loadPresetFile (preset.getFullPathName(), nullptr);
    manager->dispatchPendingNotifications();
    ASSERT_FALSE (manager->isModified());

    std::vector<std::thread> hosts;
    for (int t = 0; t < 3; ++t)
        hosts.emplace_back ([&, t]
        {
            juce::Random random (t);
            const auto& params = p->getParameters();
            for (int i = 0; i < 20000; ++i)
                params[random.nextInt (params.size())]->setValueNotifyingHost (random.nextFloat());
        });
    for (auto& h : hosts)
        h.join();

    manager->dispatchPendingNotifications();
    EXPECT_TRUE (manager->isModified());
}

} // namespace
