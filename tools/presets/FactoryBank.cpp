#include "FactoryBank.h"

#include "ParameterAssignments.h"
#include "PresetIO.h"
#include "plugin/processor/VelmoraProcessor.h"

namespace FactoryBank
{
namespace
{
    struct Row
    {
        int line = 0;
        juce::StringArray cells;
    };

    /** Tab-separated rows after the header line; '#' lines and blank lines are comments. */
    juce::String readTable (const juce::File& file, int columns, std::vector<Row>& rows)
    {
        if (! file.existsAsFile())
            return "no table at " + file.getFullPathName();

        juce::StringArray lines;
        file.readLines (lines);
        bool headerSeen = false;

        for (int i = 0; i < lines.size(); ++i)
        {
            const auto text = lines[i].trimCharactersAtEnd ("\r");
            if (text.trim().isEmpty() || text.startsWithChar ('#'))
                continue;

            if (! headerSeen)
            {
                headerSeen = true;
                continue;
            }

            auto cells = juce::StringArray::fromTokens (text, "\t", {});
            while (cells.size() < columns)
                cells.add ({});

            if (cells.size() != columns)
                return file.getFileName() + " line " + juce::String (i + 1) + ": expected " + juce::String (columns) + " columns";

            cells.trim();
            rows.push_back ({ i + 1, cells });
        }

        return {};
    }

    juce::String where (const juce::File& table, const Row& row)
    {
        return table.getFileName() + " line " + juce::String (row.line) + ": ";
    }

    bool isLegalName (const juce::String& name)
    {
        return name.isNotEmpty() && ! name.startsWithChar ('.') && juce::File::createLegalFileName (name) == name;
    }

    std::vector<ParameterAssignment> parseAssignments (const juce::String& text)
    {
        std::vector<ParameterAssignment> result;
        for (const auto& token : juce::StringArray::fromTokens (text, " ", {}))
            if (token.isNotEmpty())
                result.push_back ({ token.upToFirstOccurrenceOf ("=", false, false), token.fromFirstOccurrenceOf ("=", false, false) });
        return result;
    }
} // namespace

Result generate (const juce::File& presetsTable, const juce::File& mappingsTable, const juce::File& outputFolder)
{
    Result result;
    std::vector<Row> presets, mappings;

    if (result.error = readTable (presetsTable, 5, presets); result.error.isNotEmpty())
        return result;
    if (result.error = readTable (mappingsTable, 4, mappings); result.error.isNotEmpty())
        return result;

    for (const auto& row : presets)
    {
        const auto& bank = row.cells[0];
        const auto& name = row.cells[1];

        if (! isLegalName (name) || (bank.isNotEmpty() && ! isLegalName (bank)))
        {
            result.error = where (presetsTable, row) + "bank and name must be legal file names";
            return result;
        }

        // Every preset starts from the defaults, so a row lists only what it changes.
        VelmoraProcessor processor;
        if (const auto problem = applyAssignments (processor, parseAssignments (row.cells[4])); problem.isNotEmpty())
        {
            result.error = where (presetsTable, row) + problem;
            return result;
        }

        auto folder = outputFolder.getChildFile ("presets");
        if (bank.isNotEmpty())
            folder = folder.getChildFile (bank);

        const auto file = folder.getChildFile (name + ".qopreset");
        if (file.existsAsFile() && result.written.contains (file.getFullPathName()))
        {
            result.error = where (presetsTable, row) + "a preset named " + name + " is already in this bank";
            return result;
        }

        if (result.error = PresetIO::saveParameterPreset (processor, file, row.cells[2], row.cells[3]); result.error.isNotEmpty())
            return result;

        result.written.add (file.getFullPathName());
    }

    for (const auto& row : mappings)
    {
        const auto& name = row.cells[0];
        if (! isLegalName (name))
        {
            result.error = where (mappingsTable, row) + "the name must be a legal file name";
            return result;
        }

        VelmoraProcessor processor;
        auto& mapper = processor.getMidiMapper();
        const auto ids = mapper.getParamIDs();

        for (const auto& pair : parseAssignments (row.cells[3]))
        {
            const auto controller = pair.value.getIntValue();
            if (! ids.contains (pair.id) || ! pair.value.containsOnly ("0123456789") || controller > 127)
            {
                result.error = where (mappingsTable, row) + "bad mapping " + pair.id + "=" + pair.value;
                return result;
            }
            mapper.mapControllerToParam (controller, pair.id);
        }

        const auto file = outputFolder.getChildFile ("midi").getChildFile (name + ".qopreset");
        if (result.error = PresetIO::saveMidiMappingPreset (processor, file, row.cells[1], row.cells[2]); result.error.isNotEmpty())
            return result;

        result.written.add (file.getFullPathName());
    }

    return result;
}
} // namespace FactoryBank
