#pragma once

#include <string>

// Misbehaviour a station can be told to show, for testing the console against it.
struct FaultSet {
    bool silent = false; // executes commands but never answers
    int delayMs = 0; // every reply starts this late
    int splitPromptMs = -1; // the ">" follows in a separate write this late; -1 off
    bool garbage = false; // line noise before every reply
    bool noEquals = false; // parameter replies without "="
    bool badStatus = false; // status words that are not hexadecimal
    bool longField = false; // one record value wider than ten characters
    bool shortRecord = false; // the record stops half way

    bool any() const
    {
        return silent || delayMs > 0 || splitPromptMs >= 0 || garbage || noEquals || badStatus
            || longField || shortRecord;
    }
    std::string describe() const;
};
