#include "FaultSet.h"

std::string FaultSet::describe() const
{
    std::string text;
    const auto add = [&text](const std::string &part) {
        if (!text.empty())
            text += ' ';
        text += part;
    };
    if (silent)
        add("silent");
    if (delayMs > 0)
        add("delay " + std::to_string(delayMs));
    if (splitPromptMs >= 0)
        add("split-prompt " + std::to_string(splitPromptMs));
    if (garbage)
        add("garbage");
    if (noEquals)
        add("no-equals");
    if (badStatus)
        add("bad-status");
    if (longField)
        add("long-field");
    if (shortRecord)
        add("short-record");
    return text.empty() ? "none" : text;
}
