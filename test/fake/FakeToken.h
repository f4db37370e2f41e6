#pragma once
// The scripted token behind the fake module: slots, PINs, token-wide login state, sessions
// (handles never reused), objects with raw attributes, searches, signing and the outputs
// delivered through the two-call length protocol. One object and one library user at a time.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "FakeModule.h"

namespace fake {

class FakeToken {
public:
    FakeToken();

    // Control side.
    void AddSlot(CK_SLOT_ID id, const std::string& description, bool present);
    void SetTokenPresent(CK_SLOT_ID id, bool present);
    void SetPin(CK_USER_TYPE user, const std::string& pin) { m_pins[user] = pin; }
    std::string Pin(CK_USER_TYPE user) const;
    void SetPinLocked(CK_USER_TYPE user, bool locked) { m_locked[user] = locked; }
    void SetStandardInitToken(bool standard) { m_standardInitToken = standard; }
    void SetTokenFlags(CK_FLAGS flags) { m_tokenFlags = flags; }
    void AddMechanism(const Mechanism& mechanism);
    void SetSerialNumber(CK_SLOT_ID id, const std::string& serial);
    void SetLabel(const std::string& label);
    CK_OBJECT_HANDLE AddObject(const std::vector<Attribute>& attributes);
    std::vector<CK_OBJECT_HANDLE> Objects() const { return m_order; }
    std::vector<Attribute> ObjectAttributes(CK_OBJECT_HANDLE handle) const;
    bool HasObject(CK_OBJECT_HANDLE handle) const { return m_objects.count(handle) != 0; }
    void SetOutput(const std::string& entry, const Bytes& output) { m_outputs[entry] = output; }
    void SetReportedLength(const std::string& entry, CK_ULONG length) { m_reported[entry] = length; }
    std::vector<CK_SESSION_HANDLE> OpenSessions() const;
    std::optional<CK_USER_TYPE> LoggedInUser() const { return m_loggedIn; }

    // Module side: each answers what the entry of the same name answers.
    CK_RV Initialize();
    CK_RV Finalize();
    CK_RV GetSlotList(bool tokenPresent, CK_SLOT_ID* list, CK_ULONG* count);
    CK_RV GetInfo(CK_INFO* info) const;
    CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO* info);
    CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO* info);
    CK_RV GetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count);
    CK_RV GetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info);
    CK_RV InitToken(CK_SLOT_ID id, const Bytes& pin, const Bytes& label);
    CK_RV SetPin(CK_SESSION_HANDLE session, const Bytes& oldPin, const Bytes& newPin);
    CK_RV InitPin(CK_SESSION_HANDLE session, const Bytes& pin);
    CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_SESSION_HANDLE* session);
    CK_RV CloseSession(CK_SESSION_HANDLE session);
    CK_RV CloseAllSessions(CK_SLOT_ID id);
    CK_RV GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info);
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin);
    CK_RV Logout(CK_SESSION_HANDLE session);
    CK_RV CreateObject(CK_SESSION_HANDLE session, const std::vector<Attribute>& attributes,
                       CK_OBJECT_CLASS defaultClass, CK_OBJECT_HANDLE* handle);
    CK_RV DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle);
    CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes,
                            CK_ULONG count);
    CK_RV FindObjectsInit(CK_SESSION_HANDLE session, const std::optional<std::vector<Attribute>>& filter);
    CK_RV FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* handles, CK_ULONG max, CK_ULONG* count);
    CK_RV FindObjectsFinal(CK_SESSION_HANDLE session);
    CK_RV SignInit(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
    CK_RV Sign(CK_SESSION_HANDLE session, CK_BYTE* signature, CK_ULONG* length);
    CK_RV VerifyInit(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
    CK_RV Verify(CK_SESSION_HANDLE session);
    CK_RV LoadCert(CK_SESSION_HANDLE session, const Bytes& p12);
    CK_RV LoadX509Cert(CK_SESSION_HANDLE session, const Bytes& label, const Bytes& id, const Bytes& der);
    CK_RV CreateCsr(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey, CK_OBJECT_HANDLE privateKey,
                    CK_BYTE* csr, CK_ULONG* length);
    CK_RV SignWithCert(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE certificate, CK_BYTE* signature,
                       CK_ULONG* length);

    // Two-call length protocol for the scripted output of an entry: a null buffer asks for
    // the length and leaves the operation going (done stays false).
    CK_RV Deliver(const std::string& entry, CK_BYTE* out, CK_ULONG* length, bool& done) const;

private:
    struct Slot {
        CK_SLOT_ID id = 0;
        Bytes description;   // exactly 64 bytes
        Bytes serial;        // exactly 16 bytes
        bool present = true;
    };
    struct Session {
        CK_SLOT_ID slot = 0;
        CK_FLAGS flags = 0;
        bool searching = false;
        std::vector<CK_OBJECT_HANDLE> found;
        size_t nextFound = 0;
        bool signing = false;
        bool verifying = false;
    };

    Slot* FindSlot(CK_SLOT_ID id);
    Session* FindSession(CK_SESSION_HANDLE handle);
    CK_OBJECT_HANDLE Store(std::vector<Attribute> attributes);
    bool Matches(CK_OBJECT_HANDLE handle, const std::vector<Attribute>& filter) const;
    void ForgetLoginWhenNoSession();

    std::vector<Slot> m_slots;
    std::map<CK_USER_TYPE, std::string> m_pins;
    std::map<CK_USER_TYPE, bool> m_locked;
    std::optional<CK_USER_TYPE> m_loggedIn;
    bool m_initialized = false;
    bool m_standardInitToken = false;
    bool m_userPinInitialized = true;
    Bytes m_tokenLabel;
    CK_FLAGS m_tokenFlags = kDefaultTokenFlags;
    // Unset: the token tells no mechanisms.
    std::optional<std::vector<Mechanism>> m_mechanisms;
    std::map<CK_SESSION_HANDLE, Session> m_sessions;
    CK_SESSION_HANDLE m_nextSession = 1;
    std::map<CK_OBJECT_HANDLE, std::vector<Attribute>> m_objects;
    std::vector<CK_OBJECT_HANDLE> m_order;
    CK_OBJECT_HANDLE m_nextObject = 1;
    unsigned m_loadedKeys = 0;
    std::map<std::string, Bytes> m_outputs;
    std::map<std::string, CK_ULONG> m_reported;
};

}  // namespace fake
