#include "VelmoraProcessor.h"
#include "VelmoraConfig.h"

#include "../dsp/VelmoraDetuneProcessor.h"
#include "../dsp/VelmoraMultiProcessor.h"
#include "../dsp/VelmoraRandProcessor.h"
#include "../dsp/VelmoraRetroProcessor.h"
#include "VelmoraParameterTexts.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{
using Parameter = juce::AudioProcessorValueTreeState::Parameter;
using Attributes = juce::AudioProcessorValueTreeStateParameterAttributes;

constexpr int parameterVersion = 1;
constexpr float frequencySkew = 0.36427587f;

// Rate, depth and width per mode, in mode order; createParameters builds the same IDs from
// chorusModeName.
constexpr const char* modeParameterIDs[VelmoraProcessor::numModes][3] = {
    { "RetroRate", "RetroDepth", "RetroWidth" },
    { "MultiRate", "MultiDepth", "MultiWidth" },
    { "DetuneRate", "DetuneDepth", "DetuneWidth" },
    { "RandRate", "RandDepth", "RandWidth" },
};

/** The same range, reading NaN as the default. JUCE's clamps pass NaN through, and a host
    may send one as a normalised value; it would reach the DSP (a NaN rate indexes the LFO
    table out of bounds) and the saved state. */
juce::NormalisableRange<float> nanReadsAsDefault (const juce::NormalisableRange<float>& range, float defaultValue)
{
    juce::NormalisableRange<float> guarded (
        range.start, range.end,
        [range, defaultValue] (float, float, float p) { return std::isnan (p) ? defaultValue : range.convertFrom0to1 (p); },
        [range, defaultValue] (float, float, float v) { return range.convertTo0to1 (std::isnan (v) ? defaultValue : v); },
        [range, defaultValue] (float, float, float v) { return std::isnan (v) ? defaultValue : range.snapToLegalValue (v); });
    // What hosts and editors read of the shape: the step count comes from the interval.
    guarded.interval = range.interval;
    guarded.skew = range.skew;
    guarded.symmetricSkew = range.symmetricSkew;
    return guarded;
}

std::unique_ptr<Parameter> makeParameter (const juce::String& id, const juce::String& name, const juce::String& label,
                                          juce::NormalisableRange<float> range, float defaultValue,
                                          std::function<juce::String (float)> toText,
                                          std::function<float (const juce::String&)> fromText)
{
    return std::make_unique<Parameter> (juce::ParameterID { id, parameterVersion }, name, nanReadsAsDefault (range, defaultValue), defaultValue,
                                        Attributes().withLabel (label)
                                            .withStringFromValueFunction ([f = std::move (toText)] (float v, int) { return f (v); })
                                            .withValueFromStringFunction (std::move (fromText)));
}
} // namespace

VelmoraProcessor::VelmoraProcessor()
    : halvex::PluginProcessor ("Velmora", "Quarno", "1.1.0"),
      hostIsLive (juce::PluginHostType().isAbletonLive())
{
    localisation = std::make_unique<VelmoraLocalisedStringsManager> (getGlobalPreferences());
    localisation->initialise();

    createParameters();

    algorithms[0] = std::make_unique<VelmoraRetroProcessor>();
    algorithms[1] = std::make_unique<VelmoraMultiProcessor>();
    algorithms[2] = std::make_unique<VelmoraDetuneProcessor>();
    algorithms[3] = std::make_unique<VelmoraRandProcessor>();

    for (int i = 0; i < numModes; ++i)
    {
        rateSmoother[i] = { 512, 0.0001f };
        depthSmoother[i] = { 512, 0.0001f };
        widthSmoother[i] = { 512, 0.0001f };
        fadeSmoother[i] = { 4 * 512, 0.0001f };
    }

    for (int c = 0; c < 2; ++c)
        filterChain[c] = static_cast<halvex::QoDelayHPLPFiltersSerie12dB*> (
            filterSlot[c].addFilter (std::make_unique<halvex::QoDelayHPLPFiltersSerie12dB>()));

    dryRamp.length = wetRamp.length = rampLength;
    outputRamp.length = 256;

    registerListeners();
}

VelmoraProcessor::~VelmoraProcessor()
{
    for (auto* p : getParameters())
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (p))
            getValueTreeState().removeParameterListener (withId->getParameterID(), this);
}

void VelmoraProcessor::createParameters()
{
    auto& tree = getValueTreeState();
    const Param100TextHelper percent;
    const DelayTextHelper delayText (0.0001f);
    auto percentToText = [percent] (float v) { return percent.toText (v); };
    auto percentFromText = [percent] (const juce::String& t) { return percent.fromText (t); };
    const juce::NormalisableRange<float> hundred { 0.0f, 100.0f };

    tree.createAndAddParameter (makeParameter ("Mode", "Mode", {}, { 0.0f, 15.0f, 1.0f }, 0.0f,
                                               VelmoraTexts::modeToText, VelmoraTexts::modeFromText));

    for (int i = 0; i < numModes; ++i)
    {
        const auto mode = chorusModeName (i);
        tree.createAndAddParameter (makeParameter (mode + "Rate", mode + " Rate", "%", hundred, 50.0f, percentToText, percentFromText));
        if (i == 2)
            tree.createAndAddParameter (makeParameter (mode + "Depth", mode + " Depth", "cents", hundred, 50.0f,
                                                       PitchTextHelper::toText, PitchTextHelper::fromText));
        else
            tree.createAndAddParameter (makeParameter (mode + "Depth", mode + " Depth", "%", hundred, 50.0f, percentToText, percentFromText));
        tree.createAndAddParameter (makeParameter (mode + "Width", mode + " Width", "%", hundred, 50.0f, percentToText, percentFromText));
    }

    tree.createAndAddParameter (makeParameter ("EchoFeedback", "Echo Feedback", "%", hundred, 0.0f, percentToText, percentFromText));
    tree.createAndAddParameter (makeParameter ("EchoDelay", "Echo Delay", "ms", hundred, 0.0f,
                                               [delayText] (float v) { return delayText.toText (v); },
                                               [delayText] (const juce::String& t) { return delayText.fromText (t); }));
    tree.createAndAddParameter (makeParameter ("EchoEnable", "Echo Enable", {}, { 0.0f, 1.0f }, 1.0f,
                                               VelmoraTexts::echoEnableToText, VelmoraTexts::echoEnableFromText));
    tree.createAndAddParameter (makeParameter ("OutputGain", "Output Gain", "dB", { -12.0f, 12.0f }, 0.0f,
                                               VelmoraTexts::twoDecimals, VelmoraTexts::parseNumber));

    auto createAndAddFreqParam = [&tree] (const juce::String& id, const juce::String& name, float defaultValue)
    {
        tree.createAndAddParameter (makeParameter (id, name, "Hz", { 20.0f, 20000.0f, 0.0f, frequencySkew }, defaultValue,
                                                   VelmoraTexts::twoDecimals, VelmoraTexts::parseNumber));
    };
    createAndAddFreqParam ("Hipass", "Hipass", 20.0f);
    createAndAddFreqParam ("Lowpass", "Lowpass", 20000.0f);

    tree.createAndAddParameter (makeParameter ("Mix", "Mix", "%", hundred, 50.0f, percentToText, percentFromText));

    // The framework replaces this with its own root once the state managers exist.
    tree.state = juce::ValueTree ("PARAMS");
}

void VelmoraProcessor::registerListeners()
{
    for (auto* p : getParameters())
    {
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
        {
            const auto id = ranged->getParameterID();
            if (id.isEmpty())
                continue;
            getValueTreeState().addParameterListener (id, this);
            parameterChanged (id, ranged->convertFrom0to1 (ranged->getValue()));
        }
    }
}

void VelmoraProcessor::parameterChanged (const juce::String& id, float value)
{
    constexpr auto relaxed = std::memory_order_relaxed;

    if (id == "Mode")
    {
        modeIndex.store (juce::jlimit (0, 3, (int) std::nearbyint (value)), relaxed);
        modeChanged.store (true, std::memory_order_release);
        return;
    }
    if (id == "OutputGain")
    {
        outputGain.store (value > -100.0f ? std::pow (10.0f, 0.05f * value) : 0.0f, relaxed);
        return;
    }
    if (id == "EchoEnable") { echoEnabled.store (value > 0.5f, relaxed); return; }
    if (id == "EchoDelay") { echoDelay.store (value * 0.01f, relaxed); return; }
    if (id == "EchoFeedback") { echoFeedback.store (value * 0.01f, relaxed); return; }
    if (id == "Mix")
    {
        const float m = value * 0.01f;
        wetGain.store (std::sqrt (m), relaxed);
        dryGain.store (std::sqrt (1.0f - m), relaxed);
        return;
    }
    if (id == "Lowpass") { lowpassHz.store (value, relaxed); return; }
    if (id == "Hipass") { hipassHz.store (value, relaxed); return; }

    // The wrappers call this on the audio thread for host changes: compare, never build, strings.
    for (int i = numModes; --i >= 0;)
    {
        const auto& ids = modeParameterIDs[i];
        if (id == ids[0]) { rate[(size_t) i].store (value * 0.01f, relaxed); return; }
        if (id == ids[1]) { depth[(size_t) i].store (value * 0.01f, relaxed); return; }
        if (id == ids[2]) { width[(size_t) i].store (value * 0.01f, relaxed); return; }
    }
}

juce::AudioProcessorEditor* VelmoraProcessor::createEditorInstance()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

//==============================================================================
void VelmoraProcessor::prepareToPlay (double fs, int blockSize)
{
    blockSize = juce::jmax (1, blockSize);
    sampleRate = fs;
    rampBuffers.setSize (numRampSlots, blockSize);
    const int channels = juce::jmax (2, getTotalNumOutputChannels());
    workBuffer.setSize (channels, blockSize);
    mixBuffer.setSize (channels, blockSize);

    rampLength = (int) std::nearbyint (0.01 * fs);
    dryRamp.length = wetRamp.length = rampLength;

    for (auto& a : algorithms)
        a->prepare (blockSize, fs);
    for (auto& slot : filterSlot)
        slot.prepare (blockSize, (float) fs);

    largestBlock = blockSize;
}

void VelmoraProcessor::sizeBuffers (int n)
{
    // Grows only when a block is longer than any before; never releases memory.
    rampBuffers.setSize (numRampSlots, n, false, false, true);
    workBuffer.setSize (workBuffer.getNumChannels(), n, false, false, true);
    mixBuffer.setSize (mixBuffer.getNumChannels(), n, false, false, true);
    largestBlock = juce::jmax (largestBlock, n);
}

void VelmoraProcessor::resetAllAlgorithms() noexcept
{
    for (auto& a : algorithms)
    {
        a->clearRing();
        a->reset();
    }
}

void VelmoraProcessor::handleTransport()
{
    auto* playHead = getPlayHead();
    if (playHead == nullptr)
        return;

    const auto position = playHead->getPosition();
    if (! position.hasValue())
        return;

    bpm = position->getBpm().orFallback (120.0);
    timeInSamples = position->getTimeInSamples().orFallback (0);
    isPlaying = position->getIsPlaying();
    isLooping = position->getIsLooping();

    if (! isPlaying)
        return;

    const auto delta = timeInSamples - previousTimeInSamples;
    const bool tempoUnchanged = bpm == previousBpm;
    previousTimeInSamples = timeInSamples;
    previousBpm = bpm;

    const auto limit = 2 * (juce::int64) largestBlock;
    const bool jump = delta > limit || (delta < -limit && ! isLooping);
    if (jump && (tempoUnchanged || ! hostIsLive))
        resetAllAlgorithms();
}

namespace
{
// Exponent bits all set: infinity or NaN. Integer tests on the bits vectorise, where
// std::isfinite per sample or a running float sum would not.
constexpr std::uint32_t exponentMask = 0x7f800000u;

inline std::uint32_t bitsOf (float x) noexcept
{
    std::uint32_t b;
    std::memcpy (&b, &x, sizeof b);
    return b;
}
} // namespace

void VelmoraProcessor::sanitise (juce::AudioBuffer<float>& buffer, int n) noexcept
{
    // NaN or infinity from the host (or from an overflow of our own) would otherwise settle
    // in the delay lines and filter states for good.
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        float* data = buffer.getWritePointer (c);
        for (int i = 0; i < n; ++i)
        {
            const float x = data[i];
            data[i] = (bitsOf (x) & exponentMask) == exponentMask ? 0.0f : x;
        }
    }
}

bool VelmoraProcessor::allFinite (const juce::AudioBuffer<float>& buffer, int n) noexcept
{
    std::uint32_t nonFinite = 0;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        const float* data = buffer.getReadPointer (c);
        for (int i = 0; i < n; ++i)
            nonFinite |= (bitsOf (data[i]) & exponentMask) == exponentMask ? 1u : 0u;
    }
    return nonFinite == 0;
}

void VelmoraProcessor::processPluginBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const int n = buffer.getNumSamples();
    const int numChannels = buffer.getNumChannels();
    if (n <= 0 || numChannels < 2)
        return;

    // 1. Upmix. With the input bus switched off the buffer holds no input, only what the
    // wrapper left in its output channels (stale or uninitialised): that is silence.
    const int inputs = getTotalNumInputChannels();
    if (inputs == 0)
        buffer.clear();
    else if (! buffer.hasBeenCleared())
        for (int c = inputs; c < numChannels; ++c)
            buffer.copyFrom (c, 0, buffer, 0, 0, n);

    if (! buffer.hasBeenCleared())
        sanitise (buffer, n);

    // 2.
    sizeBuffers (n);

    // 3.
    handleTransport();

    // 4.
    const int length = rampLength;
    for (int i = 0; i < numModes; ++i)
    {
        rateSmoother[i].steps = length;
        widthSmoother[i].steps = length;
        depthSmoother[i].steps = 20 * length;
        rateSmoother[i].setTarget (rate[(size_t) i].load (std::memory_order_relaxed));
        depthSmoother[i].setTarget (depth[(size_t) i].load (std::memory_order_relaxed));
        widthSmoother[i].setTarget (width[(size_t) i].load (std::memory_order_relaxed));
    }
    echoDelaySmoother.steps = length;
    echoFeedbackSmoother.steps = length;
    echoDelaySmoother.setTarget (echoDelay.load (std::memory_order_relaxed));
    echoFeedbackSmoother.setTarget (echoEnabled.load (std::memory_order_relaxed) ? echoFeedback.load (std::memory_order_relaxed) : 0.0f);

    // 5.
    const int selected = modeIndex.load (std::memory_order_relaxed);
    if (modeChanged.exchange (false, std::memory_order_acquire))
    {
        rateSmoother[selected].snap (rate[(size_t) selected].load (std::memory_order_relaxed));
        depthSmoother[selected].snap (depth[(size_t) selected].load (std::memory_order_relaxed));
        widthSmoother[selected].snap (width[(size_t) selected].load (std::memory_order_relaxed));
        algorithms[(size_t) selected]->reset();
    }

    // 6.
    echoDelaySmoother.render (rampBuffers.getWritePointer (echoDelayRamp), n);
    echoFeedbackSmoother.render (rampBuffers.getWritePointer (feedbackRamp), n);
    mixBuffer.clear();

    // 7.
    for (int i = 0; i < numModes; ++i)
        runAlgorithm (i, selected, buffer, n);

    // 8, 9.
    filterWet (n);

    // 10.
    wetRamp.apply (mixBuffer, n, wetGain.load (std::memory_order_relaxed));
    dryRamp.apply (buffer, n, dryGain.load (std::memory_order_relaxed));

    // 11.
    if (! mixBuffer.hasBeenCleared())
        for (int c = 0; c < numChannels; ++c)
            buffer.addFrom (c, 0, mixBuffer, juce::jmin (c, mixBuffer.getNumChannels() - 1), 0, n);

    // 12, 13.
    outputRamp.apply (buffer, n, outputGain.load (std::memory_order_relaxed));
    if (! buffer.hasBeenCleared())
    {
        limiter[1].process (buffer.getWritePointer (1), n);
        limiter[0].process (buffer.getWritePointer (0), n);
    }
}

void VelmoraProcessor::runAlgorithm (int i, int selected, juce::AudioBuffer<float>& buffer, int n) noexcept
{
    auto& algorithm = *algorithms[(size_t) i];
    auto& fade = fadeSmoother[i];
    fade.setTarget (i == selected ? 1.0f : 0.0f);
    if (fade.done && i != selected)
    {
        algorithm.feedIdle (buffer);
        return;
    }

    if (buffer.hasBeenCleared())
        workBuffer.clear();
    else
        for (int c = 0; c < 2; ++c)
            workBuffer.copyFrom (c, 0, buffer, c, 0, n);

    float* rates = rampBuffers.getWritePointer (rateRamp);
    float* depths = rampBuffers.getWritePointer (depthRamp);
    float* widths = rampBuffers.getWritePointer (widthRamp);
    float* fades = rampBuffers.getWritePointer (fadeRamp);
    rateSmoother[i].render (rates, n);
    depthSmoother[i].render (depths, n);
    juce::FloatVectorOperations::clip (depths, depths, 0.0f, 1.0f, n);
    widthSmoother[i].render (widths, n);
    fade.render (fades, n);

    const ChorusBlockParams params { rates, depths, widths, rampBuffers.getReadPointer (echoDelayRamp),
                                     rampBuffers.getReadPointer (feedbackRamp), fades };
    float* left = workBuffer.getWritePointer (0);
    float* right = workBuffer.getWritePointer (1);
    algorithm.processBlock (left, right, params, n);

    const ChorusParams last { rates[n - 1], depths[n - 1], widths[n - 1], params.echoDelay[n - 1],
                              params.echoFeedback[n - 1], fades[n - 1] };
    const float makeup = algorithm.getMakeupGain (last);
    if (makeup == 0.0f)
        workBuffer.clear (0, n);
    else if (makeup != 1.0f)
        workBuffer.applyGain (0, n, makeup);

    // An overflow inside the loop (absurd input levels) must not leave NaN behind for good.
    if (! allFinite (workBuffer, n))
    {
        workBuffer.clear (0, n);
        algorithm.clearRing();
        algorithm.recover();
    }

    for (int c = 0; c < mixBuffer.getNumChannels(); ++c)
        mixBuffer.addFrom (c, 0, workBuffer, juce::jmin (c, 1), 0, n);
}

void VelmoraProcessor::filterWet (int n) noexcept
{
    hipassSmoother.setTarget (hipassHz.load (std::memory_order_relaxed));
    lowpassSmoother.setTarget (lowpassHz.load (std::memory_order_relaxed));
    float* hp = rampBuffers.getWritePointer (hipassRamp);
    float* lp = rampBuffers.getWritePointer (lowpassRamp);
    hipassSmoother.render (hp, n);
    lowpassSmoother.render (lp, n);

    if (mixBuffer.hasBeenCleared())
        return;

    const auto hpRange = juce::FloatVectorOperations::findMinAndMax (hp, n);
    const auto lpRange = juce::FloatVectorOperations::findMinAndMax (lp, n);
    const bool steady = hpRange.getLength() == 0.0f && lpRange.getLength() == 0.0f;

    if (steady && filterSlot[0].getSoleActiveFilter() == filterChain[0]
        && filterSlot[1].getSoleActiveFilter() == filterChain[1])
    {
        for (int c = 0; c < 2; ++c)
        {
            filterChain[c]->highPass.setCutoff (hp[0]);
            filterChain[c]->lowPass.setCutoff (lp[0]);
        }
        halvex::QoDelayHPLPFiltersSerie12dB::processStereo (*filterChain[0], *filterChain[1], mixBuffer.getWritePointer (0),
                                                            mixBuffer.getWritePointer (1), n);
    }
    else
    {
        for (int c = 0; c < 2; ++c)
        {
            float* data = mixBuffer.getWritePointer (c);
            auto& chain = *filterChain[c];
            if (steady)
            {
                chain.highPass.setCutoff (hp[0]);
                chain.lowPass.setCutoff (lp[0]);
                filterSlot[c].processBlock (data, n);
            }
            else
            {
                for (int k = 0; k < n; ++k)
                {
                    chain.highPass.setCutoff (hp[k]);
                    chain.lowPass.setCutoff (lp[k]);
                    data[k] = filterSlot[c].processSample (data[k]);
                }
            }
        }
    }

    if (! allFinite (mixBuffer, n))
    {
        mixBuffer.clear (0, n);
        for (auto& slot : filterSlot)
            slot.reset();
    }
}

juce::URL VelmoraProcessor::getUpdateServerAddress() const { return juce::URL (VelmoraConfig::updateServerAddress); }
juce::URL VelmoraProcessor::getProductPageAddress() const { return juce::URL (VelmoraConfig::productPageAddress); }
