#pragma once
// One step of a pass as the pass table has it: the line announcing it, what it does, what it
// needs from earlier steps and from the token, and what it leaves for later steps.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "token/TokenCapabilities.h"

// What a step leaves on the token or in the session for the steps after it.
enum class PassResource { Login, RsaCertificate, RsaKeyPair, GostCertificate, GostKeyPair, GostSecretKey };

struct CPassStep {
    // Logged before the step runs; empty for the steps that run without a line.
    std::string announcement;
    // The step's name in the summary and the reports: the announcement, with what tells
    // apart steps that share one.
    std::string name;
    // False when the token refused the default PIN. Empty for a line that is only a message.
    std::function<bool()> run;
    // Logged after the step passed ("MAC is OK").
    std::string closingLine;
    std::vector<PassResource> needs;
    std::optional<PassResource> provides;
    CTokenNeeds token;
    // With --keep-going, what is done in place of a step that cannot run (a logout whose
    // login is in doubt); its result tells nothing.
    std::function<void()> whenBlocked;

    bool IsMessageOnly() const { return !run; }

    // For building the table: each sets one property and returns the step.
    CPassStep& Providing(PassResource resource)
    {
        provides = resource;
        return *this;
    }
    CPassStep& Writing()
    {
        token.writes = true;
        return *this;
    }
    CPassStep& UsingKey(CK_KEY_TYPE keyType)
    {
        token.keyType = keyType;
        return *this;
    }
    CPassStep& Using(CK_MECHANISM_TYPE type, CK_FLAGS flags, CK_ULONG keyBits = 0)
    {
        token.mechanisms.push_back(CMechanismNeed{type, flags, keyBits});
        return *this;
    }
    // Tells this step apart from another with the same announcement.
    CPassStep& Qualified(const std::string& qualifier)
    {
        name = announcement + " (" + qualifier + ")";
        return *this;
    }
};
