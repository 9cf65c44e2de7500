#pragma once

#include <juce_core/juce_core.h>

/** Turns the factory tables into preset files: one parameter preset per row of the presets
    table (under presets/<bank>/, or presets/ for rows without a bank) and one MIDI-mapping
    preset per row of the mappings table (under midi/). Message thread. */
namespace FactoryBank
{
struct Result
{
    juce::String error; // empty on success; names the table line at fault
    juce::StringArray written;
};

Result generate (const juce::File& presetsTable, const juce::File& mappingsTable, const juce::File& outputFolder);
} // namespace FactoryBank
