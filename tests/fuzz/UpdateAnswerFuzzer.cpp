// The update server's answer: "key:value;..." pairs, the whole answer and every value read
// as a version and ranked the way the checker compares it with the running one.
#include "FuzzSupport.h"

#include "halvex/state/UpdateChecker.h"

namespace
{
fuzz::Environment* environment = nullptr;

using Version = halvex::UpdateChecker::Version;

void rank (const juce::String& text)
{
    const auto v = Version::parse (text);
    Version release;
    release.major = v.major;
    release.minor = v.minor;
    release.patch = v.patch;

    // A release outranks every beta of its own number.
    if (v.beta)
        VELMORA_FUZZ_CHECK (release.score() > v.score());
    else
        VELMORA_FUZZ_CHECK (release.score() == v.score());
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static fuzz::Environment instance;
    environment = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // As the checker reads its answer off the stream.
    const auto answer = juce::String::createStringFromData (data, (int) size);
    const auto values = halvex::UpdateChecker::parseAnswer (answer);

    rank (answer);
    rank (values.getValue ("macVersion", "0.0.0"));
    (void) values.getValue ("macReleaseDate", "0").getLargeIntValue();

    for (const auto& value : values.getAllValues())
        rank (value);

    return 0;
}
