#pragma once
// Records the fake module's calls: counts each entry's calls, answers the scripted faults,
// keeps every call in order and, in a child process, appends each one to the log file.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "FakeModule.h"

namespace fake {

class CallRecorder {
public:
    void Reset();

    void AddFault(const std::string& entry, CK_RV rv, int fromCall, bool once);
    // Counts one more call of the entry; the scripted answer when a fault covers this call.
    std::optional<CK_RV> NextCall(const std::string& entry);

    // Raises `signal` `times` times when the entry's call number `afterCall` has done its work.
    void AddSignal(const std::string& entry, int afterCall, int signal, int times);
    // The signals due after the entry's latest call, raised here.
    void RaiseSignalsDue(const std::string& entry);

    void Record(const Call& call);
    const std::vector<Call>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }

    void SetLogFile(const std::string& path) { m_logPath = path; }
    // The log line of a call, without its line end (format in ScriptFile.h).
    static std::string FormatLine(const Call& call);

private:
    struct Fault {
        CK_RV rv = CKR_OK;
        int fromCall = 1;
        bool once = false;
    };

    struct SignalRule {
        int afterCall = 1;
        int signal = 0;
        int times = 1;
    };

    std::map<std::string, std::vector<Fault>> m_faults;
    std::map<std::string, std::vector<SignalRule>> m_signals;
    std::map<std::string, int> m_counts;
    std::vector<Call> m_calls;
    std::string m_logPath;
};

}  // namespace fake
