#pragma once

#include "support/ProcessorHarness.h"
#include "support/TestFolders.h"
#include "halvex/state/SafeXml.h"

#include <gtest/gtest.h>

/** A fresh folder root per test, and product instances made the way the plug-in entry
    point makes them. */
class StateTest : public ::testing::Test
{
protected:
    ScopedFolderRoot folders;

    static std::unique_ptr<VelmoraProcessor> makeInstance()
    {
        auto p = std::make_unique<VelmoraProcessor>();
        p->initialiseStateManagers();
        return p;
    }

    static float plain (VelmoraProcessor& p, const char* id)
    {
        auto* param = p.getValueTreeState().getParameter (id);
        return param->convertFrom0to1 (param->getValue());
    }

    static juce::MemoryBlock saveState (VelmoraProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return block;
    }

    static std::unique_ptr<juce::XmlElement> stateXml (VelmoraProcessor& p)
    {
        const auto block = saveState (p);
        return juce::AudioProcessor::getXmlFromBinary (block.getData(), (int) block.getSize());
    }

    static void restoreXml (VelmoraProcessor& p, const juce::XmlElement& xml)
    {
        juce::MemoryBlock block;
        juce::AudioProcessor::copyXmlToBinary (xml, block);
        p.setStateInformation (block.getData(), (int) block.getSize());
    }

    juce::File userPresets() const { return folders.user().getChildFile ("presets"); }
    juce::File factoryPresets() const { return folders.shared().getChildFile ("presets"); }

    /** A parameter preset with the given PARAMS attributes ("Mix=70 Mode=2"). */
    static juce::File writePreset (const juce::File& file, const juce::String& assignments,
                                   const juce::String& rootTag = "Velmora")
    {
        juce::XmlElement root (rootTag);
        root.setAttribute ("company", "Quarno");
        auto* params = root.createNewChildElement ("PARAMS");

        for (const auto& pair : juce::StringArray::fromTokens (assignments, " ", {}))
            params->setAttribute (pair.upToFirstOccurrenceOf ("=", false, false),
                                  pair.fromFirstOccurrenceOf ("=", false, false));

        file.getParentDirectory().createDirectory();
        [[maybe_unused]] const auto written = root.writeTo (file);
        jassert (written);
        return file;
    }
};

/** Records what a preset file manager tells its listeners. */
struct RecordingPresetListener : halvex::PresetFileManagerListener
{
    juce::StringArray events;

    void presetSaved (halvex::PresetFileManager&, const juce::File&, const juce::String& name) override { events.add ("saved " + name); }
    void presetLoaded (halvex::PresetFileManager&, const juce::File&, const juce::String& name) override { events.add ("loaded " + name); }
    void userPresetsRescanned (halvex::PresetFileManager&) override { events.add ("rescanned"); }
    void presetNameChanged (halvex::PresetFileManager&, const juce::File& o, const juce::File& n) override
    {
        events.add ("renamed " + o.getFileNameWithoutExtension() + " " + n.getFileNameWithoutExtension());
    }
    void presetDeleted (halvex::PresetFileManager&, const juce::File&, const juce::String& name) override { events.add ("deleted " + name); }
    void recentFilesChanged (halvex::PresetFileManager&, const juce::StringArray&) override { events.add ("recent"); }
    void presetModifiedChanged (halvex::PresetFileManager&, const juce::File&, bool modified) override
    {
        events.add (modified ? "modified" : "clean");
    }
};
