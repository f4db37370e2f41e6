#include "CallRecorder.h"

#include <signal.h>

#include <fstream>
#include <sstream>

#include "ScriptFile.h"

namespace fake {

namespace {

std::string Hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string AttributeText(const Attribute& a)
{
    std::ostringstream out;
    out << "0x" << std::hex << a.type << std::dec << ':' << a.length << ':' << (a.nullValue ? "null" : Hex(a.value));
    return out.str();
}

template <typename Item, typename Format>
std::string Joined(const std::vector<Item>& items, char separator, Format format)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0) out += separator;
        out += format(items[i]);
    }
    return out;
}

}  // namespace

void CallRecorder::Reset()
{
    m_faults.clear();
    m_signals.clear();
    m_counts.clear();
    m_calls.clear();
}

void CallRecorder::AddFault(const std::string& entry, CK_RV rv, int fromCall, bool once)
{
    m_faults[entry].push_back(Fault{rv, fromCall, once});
}

std::optional<CK_RV> CallRecorder::NextCall(const std::string& entry)
{
    const int number = ++m_counts[entry];
    std::optional<CK_RV> answer;
    // The fault added last wins where several cover the same call.
    for (const Fault& fault : m_faults[entry]) {
        if (fault.once ? number == fault.fromCall : number >= fault.fromCall) answer = fault.rv;
    }
    return answer;
}

void CallRecorder::AddSignal(const std::string& entry, int afterCall, int signal, int times)
{
    m_signals[entry].push_back(SignalRule{afterCall, signal, times});
}

void CallRecorder::RaiseSignalsDue(const std::string& entry)
{
    const int number = m_counts[entry];
    for (const SignalRule& rule : m_signals[entry]) {
        if (rule.afterCall == number) {
            for (int i = 0; i < rule.times; ++i) raise(rule.signal);
        }
    }
}

void CallRecorder::Record(const Call& call)
{
    m_calls.push_back(call);
    if (m_logPath.empty()) return;
    std::ofstream log(m_logPath, std::ios::app | std::ios::binary);
    log << FormatLine(call) << '\n' << std::flush;
}

std::string CallRecorder::FormatLine(const Call& call)
{
    std::ostringstream line;
    line << call.name << " rv=" << ScriptFile::ResultText(call.rv) << " args=";
    line << Joined(call.args, ',', [](CK_ULONG v) { return std::to_string(v); });
    if (!call.buffers.empty()) {
        line << " bufs=" << Joined(call.buffers, ',', [](const std::optional<Bytes>& b) {
            return b ? Hex(*b) : std::string("null");
        });
    }
    if (!call.templates.empty()) {
        line << " tpls=" << Joined(call.templates, '|', [](const std::vector<Attribute>& t) {
            return Joined(t, ';', AttributeText);
        });
    }
    if (call.mechanism) {
        line << " mech=0x" << std::hex << *call.mechanism << std::dec << ':' << Hex(call.mechanismParameter);
    }
    if (call.outputNull) line << " out=null";
    return line.str();
}

}  // namespace fake
