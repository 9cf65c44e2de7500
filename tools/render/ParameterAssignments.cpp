#include "ParameterAssignments.h"

#include <cmath>
#include <cstdlib>

namespace
{
/** Splits "250ms" into 250 and "ms"; false when text does not start with a number. */
bool splitLeadingNumber (const juce::String& text, double& number, juce::String& rest)
{
    const auto s = text.trim();
    const auto first = s[0];
    const auto second = s[1];
    const bool startsNumeric = juce::CharacterFunctions::isDigit (first)
                               || ((first == '-' || first == '+' || first == '.') && (juce::CharacterFunctions::isDigit (second) || second == '.'));
    if (! startsNumeric)
        return false;

    char* end = nullptr;
    const char* raw = s.toRawUTF8();
    number = std::strtod (raw, &end);
    if (end == raw || ! std::isfinite (number))
        return false;
    rest = juce::String::fromUTF8 (end).trim();
    return true;
}

juce::String realText (float value)
{
    // Enough digits for 0.36427587-style values without trailing noise.
    auto s = juce::String (value, 4);
    if (s.containsChar ('.'))
        s = s.trimCharactersAtEnd ("0").trimCharactersAtEnd (".");
    return s == "-0" ? juce::String ("0") : s;
}
} // namespace

ResolvedValue resolveParameterValue (const juce::RangedAudioParameter& p, const juce::String& text)
{
    ResolvedValue r;
    const auto t = text.trim();
    const auto id = p.getParameterID();
    const auto& range = p.getNormalisableRange();

    if (t.isEmpty())
    {
        r.error = "empty value for " + id;
        return r;
    }

    double number = 0.0;
    juce::String unit;
    if (splitLeadingNumber (t, number, unit))
    {
        if (unit.isEmpty())
        {
            if (number < range.start || number > range.end)
            {
                r.error = id + "=" + t + " is outside " + realText (range.start) + " to " + realText (range.end)
                          + (p.getLabel().isNotEmpty() ? " " + p.getLabel() : juce::String());
                return r;
            }
            r.normalised = range.convertTo0to1 ((float) number);
            r.real = range.convertFrom0to1 (r.normalised);
            return r;
        }

        // Only the parameter's own label may follow the number: "250ms" for the echo delay,
        // but "250s" would silently mean 250 ms, so it is refused.
        if (! unit.equalsIgnoreCase (p.getLabel()))
        {
            r.error = id + "=" + t + ": unit " + unit.quoted ('\'') + " is not "
                      + (p.getLabel().isEmpty() ? "allowed here (" + id + " has no unit)" : id + "'s unit " + p.getLabel().quoted ('\''));
            return r;
        }

        // The text function clamps to the range without a word; read the result back to
        // catch "EchoDelay=5000ms" instead of quietly rendering 1000 ms.
        const float normalised = p.getValueForText (t);
        const auto shown = p.getText (normalised, 1024).trim();
        const auto decimals = shown.containsChar ('.') ? shown.length() - shown.indexOfChar ('.') - 1 : 0;
        const double halfDigit = 0.5 * std::pow (10.0, -decimals) + 1.0e-6 * std::abs (number);
        if (std::abs (shown.getDoubleValue() - number) > halfDigit)
        {
            r.error = id + "=" + t + " is outside the range of " + id + " (" + p.getText (0.0f, 1024) + " to "
                      + p.getText (1.0f, 1024) + " " + p.getLabel() + ")";
            return r;
        }
    }
    else
    {
        // Words: the parameter maps unknown text to some fallback; insist on a round trip.
        const float normalised = p.getValueForText (t);
        if (! p.getText (normalised, 1024).equalsIgnoreCase (t))
        {
            r.error = id + "=" + t + ": not a value " + id + " understands";
            return r;
        }
    }

    r.normalised = juce::jlimit (0.0f, 1.0f, p.getValueForText (t));
    r.real = range.convertFrom0to1 (r.normalised);
    return r;
}

juce::RangedAudioParameter* findParameter (juce::AudioProcessor& processor, const juce::String& id)
{
    for (auto* p : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
            if (ranged->getParameterID() == id)
                return ranged;
    return nullptr;
}

juce::String applyAssignments (juce::AudioProcessor& processor, const std::vector<ParameterAssignment>& assignments)
{
    std::vector<std::pair<juce::RangedAudioParameter*, float>> resolved;

    for (const auto& a : assignments)
    {
        auto* p = findParameter (processor, a.id);
        if (p == nullptr)
        {
            juce::String hint;
            for (auto* candidate : processor.getParameters())
                if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (candidate))
                    if (ranged->getParameterID().equalsIgnoreCase (a.id))
                        hint = " (did you mean " + ranged->getParameterID() + "?)";
            return "unknown parameter " + a.id.quoted ('\'') + hint + "; --list-parameters shows the IDs";
        }

        auto value = resolveParameterValue (*p, a.value);
        if (value.error.isNotEmpty())
            return value.error;
        resolved.emplace_back (p, value.normalised);
    }

    for (auto& [p, normalised] : resolved)
        p->setValueNotifyingHost (normalised);
    return {};
}

juce::String describeParameters (juce::AudioProcessor& processor)
{
    juce::String out ("index\tID\tname\tlabel\tstart\tend\tdefault\tdefault text\n");
    int index = 0;
    for (auto* p : processor.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        if (ranged == nullptr)
            continue;
        const auto& range = ranged->getNormalisableRange();
        const float def = ranged->getDefaultValue();
        out << index++ << '\t' << ranged->getParameterID() << '\t' << ranged->getName (1024) << '\t' << ranged->getLabel() << '\t'
            << realText (range.start) << '\t' << realText (range.end) << '\t' << realText (range.convertFrom0to1 (def)) << '\t'
            << ranged->getText (def, 1024) << '\n';
    }
    return out;
}
