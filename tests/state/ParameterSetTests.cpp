// The two parameter sets: native framework parameters (clamping, the quarter-step threshold,
// undo coalescing, two-pass loading) and the processor's own parameters as a preset element.
#include "StateTestSupport.h"

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

} // namespace
