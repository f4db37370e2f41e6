#pragma once
// Control side of the scripted fake PKCS#11 module (built as libnimb_pkcs11_main.so).
// A test scripts the token (slots, PINs, objects, faults, outputs) and reads back every
// call the code under test made, with byte copies of what it was given.
//
// In process: link the test against the fake_pkcs11 target; the utility's dlopen of
// "libnimb_pkcs11_main.so" then finds this same library, and these functions reach its state.
// In a child process: the environment variable FAKE_PKCS11_SCRIPT names a script file read
// when the module is first asked for its function list, and FAKE_PKCS11_LOG names a file to
// which every call is appended as one line (formats in ScriptFile.h).
#include <optional>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

namespace fake {

using Bytes = std::vector<unsigned char>;

struct Attribute {
    CK_ATTRIBUTE_TYPE type = 0;
    Bytes value;              // byte copy of the value (empty when the pointer was null)
    bool nullValue = false;   // recorded templates: pValue was null
    CK_ULONG length = 0;      // recorded templates: ulValueLen as given
};

Attribute Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);   // sizeof(CK_ULONG) bytes, native order
Attribute Bool(CK_ATTRIBUTE_TYPE type, bool value);        // one byte
Attribute Byte(CK_ATTRIBUTE_TYPE type, unsigned char value);
Attribute Text(CK_ATTRIBUTE_TYPE type, const std::string& value);  // no terminator
Attribute Raw(CK_ATTRIBUTE_TYPE type, const Bytes& value);

// One recorded call. What goes where, per entry ("in" = value on entry):
//   C_Initialize         args {init args non-null ? 1 : 0, and when non-null their flags};
//                        buffers {pReserved as a NUL-terminated text} when non-null
//   C_Finalize           args {}
//   C_GetSlotList        args {tokenPresent, *pulCount in}; outputNull = list was null
//   C_GetSlotInfo, C_GetTokenInfo, C_CloseAllSessions   args {slotID}
//   C_OpenSession        args {slotID, flags}
//   C_GetSessionInfo     args {session}
//   C_CloseSession, C_Logout, C_FindObjectsFinal        args {session}
//   C_Login              args {session, userType}; buffers {pin}
//   C_InitToken          args {slotID}; buffers {pin, label (32 bytes)}
//   C_SetPIN             args {session}; buffers {old pin, new pin}
//   C_FindObjectsInit    args {session, count, template non-null ? 1 : 0}; templates {template}
//   C_FindObjects        args {session, maxObjectCount}
//   C_GetAttributeValue  args {session, object}; templates {template as given}
//   C_DestroyObject      args {session, object}
//   C_GenerateKeyPair    args {session, public count, private count}; mechanism;
//                        templates {public, private}
//   C_GenerateKey        args {session, count}; mechanism; templates {template}
//   C_CreateObject       args {session, count}; templates {template}
//   C_SignInit, C_VerifyInit   args {session, key}; mechanism
//   C_Sign               args {session, *pulSignatureLen in}; buffers {data}; outputNull
//   C_Verify             args {session}; buffers {data, signature}
//   C_KTL_LoadCert       args {session}; buffers {p12, password}
//   C_KTL_LoadX509Cert   args {session}; buffers {label with its NUL, id, der}
//   C_KTL_CreateCSR      args {session, public key, subject count, *csrLen in, private key,
//                        attribute count, extension count};
//                        buffers {subject, attributes, extensions} (the packed strings, NULs
//                        included: 2, 2 and 3 strings per entry); outputNull
//   C_KTL_SignWithCert   args {session, certificate, *signatureLen in, r1, r2, r3, r4};
//                        buffers {data}; outputNull
//   C_KTL_VerifySignature  args {}; buffers {signature, data}
//   C_InitPIN            args {session}; buffers {pin}
//   C_GetMechanismList   args {slotID, *pulCount in}; outputNull = list was null
//   C_GetMechanismInfo   args {slotID, type}
// Every other entry is recorded with its name only and answers CKR_FUNCTION_NOT_SUPPORTED.
// A null input pointer is recorded as std::nullopt in buffers.
struct Call {
    std::string name;
    std::vector<CK_ULONG> args;
    std::vector<std::optional<Bytes>> buffers;
    std::vector<std::vector<Attribute>> templates;
    std::optional<CK_MECHANISM_TYPE> mechanism;
    Bytes mechanismParameter;
    bool outputNull = false;
    CK_RV rv = CKR_OK;   // what the fake answered
};

// Empty state: no slots, no objects, no faults, no calls, PINs "52816037" for both users,
// no user logged in, default outputs, C_Initialize not yet called. Other entries do not
// check for C_Initialize; C_Finalize closes every session. Objects belong to the one token
// model, whatever the slot; C_InitToken clears them all. C_GetFunctionList is recorded too.
void Reset();

// A slot. The description is given byte for byte: shorter than 64 bytes is blank-padded,
// longer is cut to 64; it may hold any bytes, NULs included.
void AddSlot(CK_SLOT_ID id, const std::string& description, bool tokenPresent = true);
void SetTokenPresent(CK_SLOT_ID id, bool present);

// PIN rules: the right PIN for each user type (CKU_SO, CKU_USER); a locked PIN makes
// C_Login answer CKR_PIN_LOCKED whatever is given.
void SetPin(CK_USER_TYPE user, const std::string& pin);
std::string Pin(CK_USER_TYPE user);
void SetPinLocked(CK_USER_TYPE user, bool locked);

// What C_GetTokenInfo reports: the flags (PIN counters, locks ...; they change nothing else
// the fake does), and per slot a serial number (blank-padded to 16 bytes, blank by
// default). Label "Fake token" until C_InitToken sets one, manufacturer "Fake
// manufacturer", model "Fake model".
const CK_FLAGS kDefaultTokenFlags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED;
void SetTokenFlags(CK_FLAGS flags);
void SetSerialNumber(CK_SLOT_ID id, const std::string& serial);
// The token label, blank-padded to 32 bytes, as C_InitToken would set it.
void SetTokenLabel(const std::string& label);

// Objects with any attributes, stored as given (none, empty or short values included).
CK_OBJECT_HANDLE AddObject(const std::vector<Attribute>& attributes);
std::vector<CK_OBJECT_HANDLE> Objects();   // in creation order
std::vector<Attribute> ObjectAttributes(CK_OBJECT_HANDLE handle);
bool HasObject(CK_OBJECT_HANDLE handle);

// Faults: the entry answers rv without doing its work on its Nth call (counted from 1 since
// Reset) and, unless once is true, on every later call.
void Fail(const std::string& entry, CK_RV rv, int fromCall = 1, bool once = false);

// Signals: once the entry's Nth call has done its work and been recorded, the fake raises
// the signal, `times` times, before it returns (a signal in the middle of a module call).
void RaiseSignalAfter(const std::string& entry, int afterCall, int signal, int times = 1);

// What C_Sign, C_KTL_CreateCSR and C_KTL_SignWithCert deliver through the two-call length
// protocol. Defaults: C_Sign 64 bytes 0x01..0x40; C_KTL_CreateCSR 100 bytes 0x30 0x62 ...;
// C_KTL_SignWithCert 128 bytes 0xA5.
void SetOutput(const std::string& entry, const Bytes& output);
// Makes the size query of that entry report this length instead of the output's size
// (0 or huge lengths); a second call with a buffer still gets at most that many bytes, and
// never more than the *length it gives. Without it, a buffer shorter than the output gets
// CKR_BUFFER_TOO_SMALL. "C_GetSlotList" works the same way: its count query reports the
// length, and a second call whose count is below the real number of slots gets
// CKR_BUFFER_TOO_SMALL with nothing written (a slot list that grew between the calls).
void SetReportedLength(const std::string& entry, CK_ULONG length);

// Open sessions (handles are never reused) and the user logged in, if any.
std::vector<CK_SESSION_HANDLE> OpenSessions();
std::optional<CK_USER_TYPE> LoggedInUser();

// The five words after the standard list: the fake's own vendor entries (the default, back
// after Reset), all null, or garbage (a small integer, code of another library, the fake's
// own data, an unmapped address, null); or, as in a PKCS#11 3.0 module, a list of version
// 3.0 followed by the 3.0 entries (C_GetInterfaceList, C_GetInterface, C_LoginUser,
// C_SessionCancel, C_MessageEncryptInit: recorded by name if called, never doing anything);
// or any five raw words. All but Pkcs11v3 give the list version 2.20.
enum class VendorWords { Module, Null, Garbage, Pkcs11v3 };
void SetVendorWords(VendorWords words);
void SetVendorWords(const std::vector<const void*>& words);

// Standard entries the list holds as null pointers (a module that offers no such function),
// by name ("C_SignInit"); back after Reset. An unknown name throws std::invalid_argument.
void SetNullEntries(const std::vector<std::string>& entries);
// The mechanism list and what C_GetMechanismInfo tells of each, in the order added. Until
// one is added both entries answer CKR_FUNCTION_NOT_SUPPORTED, as a token that tells nothing.
struct Mechanism {
    CK_MECHANISM_TYPE type = 0;
    CK_ULONG minKeySize = 0;
    CK_ULONG maxKeySize = 0;
    CK_FLAGS flags = 0;
};
void AddMechanism(const Mechanism& mechanism);
// The interfaces build of the fake (test/fake/interfaces/, with C_GetInterfaceList and
// C_GetInterface exported) publishes its standard list as "PKCS 11" and, when offered (off
// by default), the five vendor entries as the vendor interface. Both entries are recorded:
// C_GetInterface with args {flags} and buffers {name}, C_GetInterfaceList with args
// {*pulCount in}, outputNull.
void SetVendorInterface(bool offered);

// As the standard has it (off by default): C_InitToken leaves the user PIN uninitialised, so
// the user cannot log in until the SO has set it with C_InitPIN.
void SetStandardInitToken(bool standard);

const std::vector<Call>& Calls();
std::vector<std::string> CallNames();
void ClearCalls();

}  // namespace fake
