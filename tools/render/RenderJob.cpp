#include "RenderJob.h"
#include "PresetIO.h"

#include "ParameterAssignments.h"
#include "plugin/dsp/RandomSeeds.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

//==============================================================================
/** A transport that is always playing at 120 BPM in 4/4, moved on by one block each time. */
class RenderSession::Transport : public juce::AudioPlayHead
{
public:
    explicit Transport (double rate) : sampleRate (rate) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        const double seconds = (double) timeInSamples / sampleRate;
        const double ppq = seconds * bpm / 60.0;
        info.setIsPlaying (true);
        info.setBpm (bpm);
        info.setTimeSignature (TimeSignature { 4, 4 });
        info.setTimeInSamples (timeInSamples);
        info.setTimeInSeconds (seconds);
        info.setPpqPosition (ppq);
        info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
        return info;
    }

    juce::int64 timeInSamples = 0;

private:
    static constexpr double bpm = 120.0;
    const double sampleRate;
};

namespace
{
juce::int64 scrambleSeed (juce::int64 seed)
{
    // splitmix64's finaliser.
    auto z = (juce::uint64) seed + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return (juce::int64) (z ^ (z >> 31));
}
} // namespace

//==============================================================================
RenderSession::RenderSession (const RenderSettings& s) : settings (s)
{
    if (auto problem = checkSampleRate (settings.sampleRate); problem.isNotEmpty())
    {
        setupError = problem;
        return;
    }
    if (settings.blockSize < RenderLimits::minBlockSize || settings.blockSize > RenderLimits::maxBlockSize)
    {
        setupError = "block size " + juce::String (settings.blockSize) + " is outside 1 to 8192";
        return;
    }

    // Every generator the processor creates takes the next seed of this sequence, so the
    // same seed renders the same samples. The user's seed is scrambled first: juce::Random's
    // first draws for neighbouring seeds are almost equal, and --seed 2 should not sound
    // like --seed 1.
    RandomSeeds::useFixedSeeds (scrambleSeed (settings.seed));
    processor = std::make_unique<VelmoraProcessor>();

    if (settings.preset != juce::File())
        if (setupError = PresetIO::loadParameterPreset (*processor, settings.preset); setupError.isNotEmpty())
            return;

    setupError = applyAssignments (*processor, settings.assignments);
    if (setupError.isNotEmpty())
        return;

    if (settings.savePreset != juce::File())
        if (setupError = PresetIO::saveParameterPreset (*processor, settings.savePreset); setupError.isNotEmpty())
            return;

    transport = std::make_unique<Transport> (settings.sampleRate);
    processor->setNonRealtime (true);
    processor->setPlayHead (transport.get());
    processor->setRateAndBufferSizeDetails (settings.sampleRate, settings.blockSize);
    processor->prepareToPlay (settings.sampleRate, settings.blockSize);
}

RenderSession::~RenderSession()
{
    if (processor != nullptr)
    {
        processor->releaseResources();
        processor->setPlayHead (nullptr);
    }
}

RenderReport RenderSession::run (juce::AudioSource& source, juce::int64 inputLength, const RenderSink& sink, const RenderProgress& progress)
{
    RenderReport report;
    report.sampleRate = settings.sampleRate;
    report.inputSamples = inputLength;
    if (setupError.isNotEmpty())
    {
        report.error = setupError;
        return report;
    }

    const int block = settings.blockSize;
    const double rate = settings.sampleRate;
    const float threshold = juce::Decibels::decibelsToGain ((float) silenceThresholdDb);
    // A quiet stretch shorter than the echo time would cut off the next repeat.
    double quietSeconds = silenceSeconds;
    if (processor->getEchoEnabled() && processor->getEchoFeedback() > 0.0f)
    {
        const double e = processor->getEchoDelay();
        quietSeconds = std::max (quietSeconds, e * e + 0.0001 + 0.1);
    }
    const auto quietNeeded = (juce::int64) std::llround (quietSeconds * rate);
    const double tailSeconds = settings.tailLimitSeconds > 0.0 ? settings.tailLimitSeconds : processor->getTailLengthSeconds();
    const auto maxTail = (juce::int64) std::ceil (tailSeconds * rate);

    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    source.prepareToPlay (block, rate);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    juce::int64 position = 0, quietRun = 0;
    bool finished = false;

    while (! finished)
    {
        const int fromInput = (int) juce::jlimit<juce::int64> (0, block, inputLength - position);
        buffer.clear();
        if (fromInput > 0)
            source.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, 0, fromInput));

        transport->timeInSamples = position;
        midi.clear();
        processor->processBlock (buffer, midi);

        // Decide, sample by sample, where the tail has rung out.
        int keep = block;
        for (int i = juce::jmax (0, fromInput); i < block; ++i)
        {
            const auto tailIndex = position + i - inputLength;
            if (tailIndex >= maxTail)
            {
                keep = i;
                finished = true;
                break;
            }
            const float level = juce::jmax (std::abs (buffer.getSample (0, i)), std::abs (buffer.getSample (1, i)));
            quietRun = level < threshold ? quietRun + 1 : 0;
            if (quietRun >= quietNeeded)
            {
                keep = i + 1;
                finished = true;
                break;
            }
        }

        report.stats.add (buffer, keep);
        if (keep > 0 && ! sink (buffer, keep))
        {
            report.error = "could not write the output";
            break;
        }
        position += keep;
        if (progress)
            progress (position, inputLength, rate);
    }

    source.releaseResources();
    report.outputSamples = position;
    report.wallSeconds = (juce::Time::getMillisecondCounterHiRes() - started) * 0.001;
    return report;
}

//==============================================================================
RenderReport renderBuffer (const juce::AudioBuffer<float>& input, const RenderSettings& settings, juce::AudioBuffer<float>& output,
                           const RenderProgress& progress)
{
    // Mono input plays on both sides, as it does for files.
    juce::AudioBuffer<float> stereo (2, input.getNumSamples());
    for (int c = 0; c < 2; ++c)
        stereo.copyFrom (c, 0, input, juce::jmin (c, input.getNumChannels() - 1), 0, input.getNumSamples());
    juce::MemoryAudioSource source (stereo, false);

    std::vector<float> left, right;
    left.reserve ((size_t) input.getNumSamples());
    right.reserve ((size_t) input.getNumSamples());

    RenderSession session (settings);
    auto report = session.run (source, input.getNumSamples(),
                               [&] (const juce::AudioBuffer<float>& b, int n)
                               {
                                   left.insert (left.end(), b.getReadPointer (0), b.getReadPointer (0) + n);
                                   right.insert (right.end(), b.getReadPointer (1), b.getReadPointer (1) + n);
                                   return true;
                               },
                               progress);

    output.setSize (2, (int) left.size());
    if (! left.empty())
    {
        output.copyFrom (0, 0, left.data(), (int) left.size());
        output.copyFrom (1, 0, right.data(), (int) right.size());
    }
    return report;
}

//==============================================================================
namespace
{
std::unique_ptr<juce::AudioFormatWriter> createWavWriter (const juce::File& file, double rate, SampleFormat format)
{
    auto stream = file.createOutputStream();
    if (stream == nullptr)
        return {};
    juce::WavAudioFormat wav;
    const int bits = format == SampleFormat::int24 ? 24 : 32; // 32 bits means IEEE float in JUCE's writer
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, 2, bits, {}, 0));
    if (writer != nullptr)
        stream.release(); // the writer owns it now
    return writer;
}

juce::String describeFile (const juce::File& f) { return f.getFullPathName().quoted ('\''); }
} // namespace

juce::String writeWavAtomically (const juce::File& target, const juce::AudioBuffer<float>& buffer, double rate, SampleFormat format)
{
    juce::TemporaryFile temp (target);
    {
        auto writer = createWavWriter (temp.getFile(), rate, format);
        if (writer == nullptr)
            return "cannot write " + describeFile (target);
        if (! writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()))
            return "cannot write " + describeFile (target);
    }
    if (! temp.overwriteTargetFileWithTemporary())
        return "cannot replace " + describeFile (target);
    return {};
}

RenderReport renderFile (const RenderOptions& options, const RenderProgress& progress)
{
    RenderReport report;
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto inFile = cwd.getChildFile (options.inputPath);
    const auto outFile = cwd.getChildFile (options.outputPath);

    if (! inFile.existsAsFile())
    {
        report.error = "cannot read input " + describeFile (inFile) + ": no such file";
        return report;
    }

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (inFile));
    if (reader == nullptr)
    {
        report.error = "cannot read input " + describeFile (inFile) + ": not a WAV, AIFF, FLAC or Ogg file";
        return report;
    }

    const double fileRate = reader->sampleRate;
    const double rate = options.sampleRate > 0.0 ? options.sampleRate : fileRate;
    if (auto problem = checkSampleRate (rate); problem.isNotEmpty())
    {
        report.error = describeFile (inFile) + ": " + problem + "; --rate resamples it";
        return report;
    }

    const auto fileLength = reader->lengthInSamples;
    juce::AudioFormatReaderSource fileSource (reader.release(), true);
    std::unique_ptr<juce::ResamplingAudioSource> resampler;
    juce::AudioSource* source = &fileSource;
    juce::int64 inputLength = fileLength;
    if (rate != fileRate)
    {
        // ResamplingAudioSource band-limits when going down, so nothing folds back.
        resampler = std::make_unique<juce::ResamplingAudioSource> (&fileSource, false, 2);
        resampler->setResamplingRatio (fileRate / rate);
        source = resampler.get();
        inputLength = (juce::int64) std::ceil ((double) fileLength * rate / fileRate);
    }

    RenderSettings settings;
    settings.sampleRate = rate;
    settings.blockSize = options.blockSize;
    settings.seed = options.seed;
    settings.assignments = options.assignments;
    if (options.presetPath.isNotEmpty())
        settings.preset = juce::File::getCurrentWorkingDirectory().getChildFile (options.presetPath);
    if (options.savePresetPath.isNotEmpty())
        settings.savePreset = juce::File::getCurrentWorkingDirectory().getChildFile (options.savePresetPath);

    // Parameters are checked before OUT's folder sees any file.
    RenderSession session (settings);
    if (session.error().isNotEmpty())
    {
        report.error = session.error();
        return report;
    }

    juce::TemporaryFile temp (outFile);
    auto writer = createWavWriter (temp.getFile(), rate, options.format);
    if (writer == nullptr)
    {
        report.error = "cannot write output " + describeFile (outFile);
        return report;
    }

    report = session.run (*source, inputLength,
                          [&writer] (const juce::AudioBuffer<float>& b, int n) { return writer->writeFromAudioSampleBuffer (b, 0, n); },
                          progress);
    writer.reset(); // completes the header before the rename
    if (report.ok() && ! temp.overwriteTargetFileWithTemporary())
        report.error = "cannot replace output " + describeFile (outFile);
    return report;
}
