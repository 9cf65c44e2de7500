// The host-facing factory: the product processor, then the framework's state set-up.
#include "../processor/VelmoraProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    auto* processor = new VelmoraProcessor();
    processor->initialiseStateManagers();
    return processor;
}
