// MIDI: the controller mapping and its persistence, the channel filter, learning, program
// changes from the "MIDI Programs" bank, host programs, and the mapping read on the audio
// thread while state loads rewrite it.
#include "StateTestSupport.h"
#include "support/AllocationGuard.h"

#include <thread>

namespace
{
juce::MidiBuffer controller (int channel, int number, int value)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (channel, number, value), 0);
    return midi;
}

juce::MidiBuffer programChange (int number)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::programChange (3, number), 0);
    return midi;
}

class Midi : public StateTest
{
protected:
    std::unique_ptr<VelmoraProcessor> p;
    halvex::Param* knob = nullptr;

    void SetUp() override
    {
        p = makeInstance();
        // The product declares no native parameter; one is added here to watch controllers land.
        knob = &p->addNativeParam (std::make_unique<halvex::Param> ("Knob", "Knob", "", 0.0, 127.0, 1.0, 0.0));
        p->prepareToPlay (48000.0, 64);
    }

    juce::AudioBuffer<float> audio { 2, 64 };

    void process (juce::MidiBuffer&& midi)
    {
        audio.clear();
        p->processBlock (audio, midi);
    }

    halvex::ParamsMidiMapper& mapper() { return p->getMidiMapper(); }
};

TEST_F (Midi, BindingsMoveBetweenControllersAndShareThemInOrder)
{
    mapper().mapControllerToParam (7, "Mix");
    mapper().mapControllerToParam (7, "OutputGain");
    mapper().mapControllerToParam (9, "Mix");
    EXPECT_EQ (mapper().paramsForController (7), juce::StringArray ("OutputGain"));
    EXPECT_EQ (mapper().controllerForParam ("Mix"), 9);

    mapper().mapControllerToParam (9, "Knob");
    EXPECT_EQ (mapper().paramsForController (9), juce::StringArray ("Mix", "Knob"));

    juce::XmlElement element ("MIDImapping");
    mapper().getState (element);
    EXPECT_EQ (element.getAttributeName (0), "Knob"); // written from the last parameter to the first
    EXPECT_EQ (element.getStringAttribute ("OutputGain"), "7");

    juce::XmlElement loaded ("MIDImapping");
    loaded.setAttribute ("Mix", -1);
    loaded.setAttribute ("Hipass", 3);
    mapper().setState (loaded); // -1 and absent attributes both unbind
    EXPECT_EQ (mapper().controllerForParam ("Mix"), -1);
    EXPECT_EQ (mapper().controllerForParam ("OutputGain"), -1);
    EXPECT_EQ (mapper().controllerForParam ("Hipass"), 3);
    EXPECT_TRUE (mapper().paramsForController (9).isEmpty());
}

TEST_F (Midi, ControllersPassTheChannelFilterOnlyWhileMidiIsOn)
{
    mapper().mapControllerToParam (20, "Knob");
    p->setCcMidiChannel (5);

    process (controller (5, 20, 100));
    EXPECT_EQ (knob->getValue(), 0.0) << "MIDI is off: nothing is looked at";

    p->setMidiEnabled (true);
    process (controller (6, 20, 100));
    EXPECT_EQ (knob->getValue(), 0.0);
    process (controller (5, 20, 100));
    EXPECT_EQ (knob->getValue(), 100.0);
    process (controller (5, 21, 10)); // unbound controller
    EXPECT_EQ (knob->getValue(), 100.0);

    p->setCcMidiChannel (0);
    process (controller (16, 20, 64));
    EXPECT_EQ (knob->getValue(), 64.0);
}

TEST_F (Midi, LearningBindsTheLastControllerOnTheMessageThread)
{
    p->setMidiEnabled (true);
    p->setMidiLearnTarget (knob);
    process (controller (1, 30, 5));
    process (controller (1, 31, 5));
    p->dispatchMessageThreadWork();
    p->setMidiLearnTarget (nullptr);

    EXPECT_EQ (mapper().controllerForParam ("Knob"), 31);
    process (controller (1, 31, 42));
    EXPECT_EQ (knob->getValue(), 42.0);
}

TEST_F (Midi, ProgramChangesLoadTheMidiProgramsBankOnTheMessageThread)
{
    const auto bank = userPresets().getChildFile ("MIDI Programs");
    writePreset (bank.getChildFile ("1 Clean.qopreset"), "Mix=11");
    writePreset (bank.getChildFile ("2 Wide.qopreset"), "Mix=22");
    writePreset (bank.getChildFile ("10 Echo.qopreset"), "Mix=33");
    p.reset();
    SetUp(); // the bank is read once, when the first instance starts

    p->setMidiEnabled (true);
    process (programChange (1));
    p->dispatchMessageThreadWork();
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 50.0f) << "program changes are off";

    p->setMidiProgramChangeEnabled (true);
    {
        auto midi = programChange (2);
        const AllocationGuard guard;
        p->processBlock (audio, midi);
        EXPECT_EQ (guard.count(), 0);
    }
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 50.0f) << "nothing is loaded on the audio thread";
    p->dispatchMessageThreadWork();
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 33.0f);
    EXPECT_EQ (p->getPresetManager()->getCurrentPresetName(), "10 Echo");

    process (programChange (3)); // beyond the bank
    p->dispatchMessageThreadWork();
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 33.0f);
}

TEST_F (Midi, ControllerHandlingNeverAllocates)
{
    mapper().mapControllerToParam (20, "Knob");
    p->setMidiEnabled (true);
    auto midi = controller (1, 20, 99);
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.5f), 1);
    juce::AudioBuffer<float> audio (2, 64);
    audio.clear();

    const AllocationGuard guard;
    p->processBlock (audio, midi);
    EXPECT_EQ (guard.count(), 0);
    EXPECT_EQ (knob->getValue(), 99.0);
}

TEST_F (Midi, HostProgramsIgnoreTheFirstSecondAndRepeats)
{
    writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=11");
    writePreset (userPresets().getChildFile ("B.qopreset"), "Mix=22");
    p = makeInstance();
    RecordingPresetListener listener;
    p->getPresetManager()->addListener (&listener);

    p->setCurrentProgram (1);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 50.0f);

    std::this_thread::sleep_for (std::chrono::milliseconds (1050));
    p->setCurrentProgram (1);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 22.0f);
    EXPECT_EQ (p->getCurrentProgram(), 1);

    ProcessorHarness::set (*p, "Mix", 70.0f);
    listener.events.clear();
    p->setCurrentProgram (1);
    EXPECT_TRUE (listener.events.isEmpty());
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 70.0f);

    p->setCurrentProgram (0);
    EXPECT_EQ (p->getProgramName (p->getCurrentProgram()), "A");
    p->getPresetManager()->removeListener (&listener);
}

// Run under ThreadSanitizer in CI: the audio thread reads the bindings for every controller
// while another thread rewrites them through state loads.
TEST_F (Midi, ConcurrentStateLoadsNeverDisturbTheAudioThread)
{
    p->setMidiEnabled (true);
    std::atomic<bool> running { true };
    std::atomic<long> allocations { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        for (int cc = 0; cc < 128; cc += 3)
            midi.addEvent (juce::MidiMessage::controllerEvent (1, cc, cc), 0);

        while (running.load())
        {
            buffer.clear();
            const AllocationGuard guard;
            p->processBlock (buffer, midi);
            allocations += guard.count();
        }
    });

    for (int i = 0; i < 2000; ++i)
    {
        juce::XmlElement element ("MIDImapping");
        element.setAttribute ("Knob", i % 128);
        if (i % 2 == 0)
            element.setAttribute ("Mix", (i * 7) % 128);
        mapper().setState (element);
        ASSERT_EQ (mapper().controllerForParam ("Knob"), i % 128);
    }

    running = false;
    audio.join();
    EXPECT_EQ (allocations.load(), 0);

    // The two views still agree.
    for (auto id : { "Knob", "Mix" })
    {
        if (const auto cc = mapper().controllerForParam (id); cc >= 0)
        {
            EXPECT_TRUE (mapper().paramsForController (cc).contains (id));
        }
    }
}

} // namespace
