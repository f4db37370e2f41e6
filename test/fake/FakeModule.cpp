// The fake module's control side: what tests call to script the token and read the calls.
#include "FakeModule.h"

#include "FakeState.h"

namespace fake {

namespace {

struct State {
    FakeToken token;
    CallRecorder recorder;
};

State& TheState()
{
    static State state;
    return state;
}

}  // namespace

FakeToken& Token() { return TheState().token; }
CallRecorder& Recorder() { return TheState().recorder; }

Attribute Raw(CK_ATTRIBUTE_TYPE type, const Bytes& value)
{
    Attribute a;
    a.type = type;
    a.value = value;
    a.length = value.size();
    return a;
}

Attribute Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return Raw(type, Bytes(bytes, bytes + sizeof(value)));
}

Attribute Bool(CK_ATTRIBUTE_TYPE type, bool value) { return Raw(type, Bytes{static_cast<unsigned char>(value ? 1 : 0)}); }

Attribute Byte(CK_ATTRIBUTE_TYPE type, unsigned char value) { return Raw(type, Bytes{value}); }

Attribute Text(CK_ATTRIBUTE_TYPE type, const std::string& value) { return Raw(type, Bytes(value.begin(), value.end())); }

void Reset()
{
    Token() = FakeToken();
    Recorder().Reset();
    RestoreStandardEntries();
    SetVendorWords(VendorWords::Module);
    SetVendorInterface(false);
}

void AddSlot(CK_SLOT_ID id, const std::string& description, bool tokenPresent)
{
    Token().AddSlot(id, description, tokenPresent);
}

void SetTokenPresent(CK_SLOT_ID id, bool present) { Token().SetTokenPresent(id, present); }
void SetPin(CK_USER_TYPE user, const std::string& pin) { Token().SetPin(user, pin); }
void SetStandardInitToken(bool standard) { Token().SetStandardInitToken(standard); }
std::string Pin(CK_USER_TYPE user) { return Token().Pin(user); }
void SetPinLocked(CK_USER_TYPE user, bool locked) { Token().SetPinLocked(user, locked); }
void SetTokenFlags(CK_FLAGS flags) { Token().SetTokenFlags(flags); }
void AddMechanism(const Mechanism& mechanism) { Token().AddMechanism(mechanism); }
void SetSerialNumber(CK_SLOT_ID id, const std::string& serial) { Token().SetSerialNumber(id, serial); }
void SetTokenLabel(const std::string& label) { Token().SetLabel(label); }
CK_OBJECT_HANDLE AddObject(const std::vector<Attribute>& attributes) { return Token().AddObject(attributes); }
std::vector<CK_OBJECT_HANDLE> Objects() { return Token().Objects(); }
std::vector<Attribute> ObjectAttributes(CK_OBJECT_HANDLE handle) { return Token().ObjectAttributes(handle); }
bool HasObject(CK_OBJECT_HANDLE handle) { return Token().HasObject(handle); }

void Fail(const std::string& entry, CK_RV rv, int fromCall, bool once)
{
    Recorder().AddFault(entry, rv, fromCall, once);
}

void RaiseSignalAfter(const std::string& entry, int afterCall, int signal, int times)
{
    Recorder().AddSignal(entry, afterCall, signal, times);
}

void SetOutput(const std::string& entry, const Bytes& output) { Token().SetOutput(entry, output); }
void SetReportedLength(const std::string& entry, CK_ULONG length) { Token().SetReportedLength(entry, length); }
std::vector<CK_SESSION_HANDLE> OpenSessions() { return Token().OpenSessions(); }
std::optional<CK_USER_TYPE> LoggedInUser() { return Token().LoggedInUser(); }
const std::vector<Call>& Calls() { return Recorder().Calls(); }

std::vector<std::string> CallNames()
{
    std::vector<std::string> names;
    for (const Call& call : Recorder().Calls()) names.push_back(call.name);
    return names;
}

void ClearCalls() { Recorder().ClearCalls(); }

}  // namespace fake
