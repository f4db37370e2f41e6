// The fake module's PKCS#11 side: the function list with its 68 standard and 5 vendor
// entries. Every entry records its call with byte copies of its inputs, answers a scripted
// fault if one covers the call, and otherwise lets the token do the work.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "FakeState.h"
#include "ScriptFile.h"
#include "token/FunctionListEntries.h"
#include "tokentest/VendorFunctionList.h"

namespace fake {

namespace {

std::optional<Bytes> Copy(const void* data, CK_ULONG length)
{
    if (data == nullptr) return std::nullopt;
    const auto* bytes = static_cast<const unsigned char*>(data);
    return Bytes(bytes, bytes + length);
}

Bytes CopyOrEmpty(const void* data, CK_ULONG length) { return Copy(data, length).value_or(Bytes()); }

std::vector<Attribute> CopyTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    std::vector<Attribute> copy;
    for (CK_ULONG i = 0; attributes != nullptr && i < count; ++i) {
        Attribute a;
        a.type = attributes[i].type;
        a.nullValue = attributes[i].pValue == nullptr;
        a.length = attributes[i].ulValueLen;
        a.value = CopyOrEmpty(attributes[i].pValue, attributes[i].ulValueLen);
        copy.push_back(a);
    }
    return copy;
}

// Strings packed one after another, each with its NUL.
std::optional<Bytes> CopyPacked(const CK_BYTE* data, CK_ULONG strings)
{
    if (data == nullptr) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(data);
    size_t size = 0;
    for (CK_ULONG i = 0; i < strings; ++i) size += std::strlen(text + size) + 1;
    return Bytes(data, data + size);
}

Call NewCall(const char* name, std::vector<CK_ULONG> args = {})
{
    Call call;
    call.name = name;
    call.args = std::move(args);
    return call;
}

void SetMechanism(Call& call, const CK_MECHANISM* mechanism)
{
    if (mechanism == nullptr) return;
    call.mechanism = mechanism->mechanism;
    call.mechanismParameter = CopyOrEmpty(mechanism->pParameter, mechanism->ulParameterLen);
}

template <typename Work>
CK_RV Run(Call call, Work work)
{
    const std::optional<CK_RV> fault = Recorder().NextCall(call.name);
    call.rv = fault ? *fault : work();
    Recorder().Record(call);
    Recorder().RaiseSignalsDue(call.name);
    return call.rv;
}

CK_RV Unsupported(const char* name)
{
    return Run(NewCall(name), [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV Initialize(void* args)
{
    Call call = NewCall("C_Initialize", {args != nullptr ? 1UL : 0UL});
    if (args != nullptr) {
        const auto* initArgs = static_cast<const CK_C_INITIALIZE_ARGS*>(args);
        call.args.push_back(initArgs->flags);
        const char* reserved = static_cast<const char*>(initArgs->pReserved);
        call.buffers = {reserved != nullptr ? Copy(reserved, std::strlen(reserved)) : std::nullopt};
    }
    return Run(call, [] { return Token().Initialize(); });
}

CK_RV Finalize(void*)
{
    return Run(NewCall("C_Finalize"), [] { return Token().Finalize(); });
}

CK_RV GetSlotList(CK_BBOOL present, CK_SLOT_ID* list, CK_ULONG* count)
{
    Call call = NewCall("C_GetSlotList", {present, count != nullptr ? *count : 0});
    call.outputNull = list == nullptr;
    return Run(call, [&] { return Token().GetSlotList(present != CK_FALSE, list, count); });
}

CK_RV GetInfo(CK_INFO* info)
{
    return Run(NewCall("C_GetInfo"), [&] { return Token().GetInfo(info); });
}

CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO* info)
{
    return Run(NewCall("C_GetSlotInfo", {id}), [&] { return Token().GetSlotInfo(id, info); });
}

CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO* info)
{
    return Run(NewCall("C_GetTokenInfo", {id}), [&] { return Token().GetTokenInfo(id, info); });
}

CK_RV GetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count)
{
    Call call = NewCall("C_GetMechanismList", {id, count != nullptr ? *count : 0});
    call.outputNull = list == nullptr;
    return Run(call, [&] { return Token().GetMechanismList(id, list, count); });
}

CK_RV GetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info)
{
    return Run(NewCall("C_GetMechanismInfo", {id, type}), [&] { return Token().GetMechanismInfo(id, type, info); });
}

CK_RV InitToken(CK_SLOT_ID id, CK_UTF8CHAR* pin, CK_ULONG pinLength, CK_UTF8CHAR* label)
{
    Call call = NewCall("C_InitToken", {id});
    call.buffers = {Copy(pin, pinLength), Copy(label, 32)};
    return Run(call, [&] { return Token().InitToken(id, CopyOrEmpty(pin, pinLength), CopyOrEmpty(label, 32)); });
}

CK_RV SetPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR* oldPin, CK_ULONG oldLength, CK_UTF8CHAR* newPin,
             CK_ULONG newLength)
{
    Call call = NewCall("C_SetPIN", {session});
    call.buffers = {Copy(oldPin, oldLength), Copy(newPin, newLength)};
    return Run(call, [&] {
        return Token().SetPin(session, CopyOrEmpty(oldPin, oldLength), CopyOrEmpty(newPin, newLength));
    });
}

CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE* session)
{
    return Run(NewCall("C_OpenSession", {id, flags}), [&] { return Token().OpenSession(id, flags, session); });
}

CK_RV CloseSession(CK_SESSION_HANDLE session)
{
    return Run(NewCall("C_CloseSession", {session}), [&] { return Token().CloseSession(session); });
}

CK_RV CloseAllSessions(CK_SLOT_ID id)
{
    return Run(NewCall("C_CloseAllSessions", {id}), [&] { return Token().CloseAllSessions(id); });
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info)
{
    return Run(NewCall("C_GetSessionInfo", {session}), [&] { return Token().GetSessionInfo(session, info); });
}

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length)
{
    Call call = NewCall("C_Login", {session, user});
    call.buffers = {Copy(pin, length)};
    return Run(call, [&] { return Token().Login(session, user, CopyOrEmpty(pin, length)); });
}

CK_RV Logout(CK_SESSION_HANDLE session)
{
    return Run(NewCall("C_Logout", {session}), [&] { return Token().Logout(session); });
}

CK_RV CreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE* attributes, CK_ULONG count, CK_OBJECT_HANDLE* handle)
{
    Call call = NewCall("C_CreateObject", {session, count});
    call.templates = {CopyTemplate(attributes, count)};
    return Run(call, [&] { return Token().CreateObject(session, call.templates[0], CKO_DATA, handle); });
}

CK_RV DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
{
    return Run(NewCall("C_DestroyObject", {session, handle}), [&] { return Token().DestroyObject(session, handle); });
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes,
                        CK_ULONG count)
{
    Call call = NewCall("C_GetAttributeValue", {session, handle});
    call.templates = {CopyTemplate(attributes, count)};
    return Run(call, [&] { return Token().GetAttributeValue(session, handle, attributes, count); });
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    Call call = NewCall("C_FindObjectsInit", {session, count, attributes != nullptr ? 1UL : 0UL});
    call.templates = {CopyTemplate(attributes, count)};
    std::optional<std::vector<Attribute>> filter;
    if (attributes != nullptr) filter = call.templates[0];
    return Run(call, [&] { return Token().FindObjectsInit(session, filter); });
}

CK_RV FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* handles, CK_ULONG max, CK_ULONG* count)
{
    return Run(NewCall("C_FindObjects", {session, max}),
               [&] { return Token().FindObjects(session, handles, max, count); });
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE session)
{
    return Run(NewCall("C_FindObjectsFinal", {session}), [&] { return Token().FindObjectsFinal(session); });
}

CK_RV SignInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key)
{
    Call call = NewCall("C_SignInit", {session, key});
    SetMechanism(call, mechanism);
    return Run(call, [&] { return Token().SignInit(session, key); });
}

CK_RV Sign(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_BYTE* signature, CK_ULONG* signatureLength)
{
    Call call = NewCall("C_Sign", {session, signatureLength != nullptr ? *signatureLength : 0});
    call.buffers = {Copy(data, length)};
    call.outputNull = signature == nullptr;
    return Run(call, [&] { return Token().Sign(session, signature, signatureLength); });
}

CK_RV VerifyInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key)
{
    Call call = NewCall("C_VerifyInit", {session, key});
    SetMechanism(call, mechanism);
    return Run(call, [&] { return Token().VerifyInit(session, key); });
}

CK_RV Verify(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_BYTE* signature,
             CK_ULONG signatureLength)
{
    Call call = NewCall("C_Verify", {session});
    call.buffers = {Copy(data, length), Copy(signature, signatureLength)};
    return Run(call, [&] { return Token().Verify(session); });
}

CK_RV GenerateKey(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_ATTRIBUTE* attributes, CK_ULONG count,
                  CK_OBJECT_HANDLE* handle)
{
    Call call = NewCall("C_GenerateKey", {session, count});
    SetMechanism(call, mechanism);
    call.templates = {CopyTemplate(attributes, count)};
    return Run(call, [&] { return Token().CreateObject(session, call.templates[0], CKO_SECRET_KEY, handle); });
}

CK_RV GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_ATTRIBUTE* publicTemplate,
                      CK_ULONG publicCount, CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey)
{
    Call call = NewCall("C_GenerateKeyPair", {session, publicCount, privateCount});
    SetMechanism(call, mechanism);
    call.templates = {CopyTemplate(publicTemplate, publicCount), CopyTemplate(privateTemplate, privateCount)};
    return Run(call, [&] {
        if (publicKey == nullptr || privateKey == nullptr) return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
        const CK_RV rv = Token().CreateObject(session, call.templates[0], CKO_PUBLIC_KEY, publicKey);
        return rv != CKR_OK ? rv : Token().CreateObject(session, call.templates[1], CKO_PRIVATE_KEY, privateKey);
    });
}

CK_RV LoadCert(CK_SESSION_HANDLE session, CK_BYTE* p12, CK_ULONG p12Length, CK_BYTE* password,
               CK_ULONG passwordLength)
{
    Call call = NewCall("C_KTL_LoadCert", {session});
    call.buffers = {Copy(p12, p12Length), Copy(password, passwordLength)};
    return Run(call, [&] { return Token().LoadCert(session, CopyOrEmpty(p12, p12Length)); });
}

CK_RV LoadX509Cert(CK_SESSION_HANDLE session, const char* label, CK_BYTE* id, CK_ULONG idLength, CK_BYTE* der,
                   CK_ULONG derLength)
{
    Call call = NewCall("C_KTL_LoadX509Cert", {session});
    call.buffers = {label != nullptr ? Copy(label, std::strlen(label) + 1) : std::nullopt, Copy(id, idLength),
                    Copy(der, derLength)};
    return Run(call, [&] {
        return Token().LoadX509Cert(session, call.buffers[0].value_or(Bytes()), CopyOrEmpty(id, idLength),
                                    CopyOrEmpty(der, derLength));
    });
}

CK_RV CreateCSR(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey, CK_BYTE* subject, CK_ULONG subjectCount,
                CK_BYTE* csr, CK_ULONG* csrLength, CK_OBJECT_HANDLE privateKey, CK_BYTE* attributes,
                CK_ULONG attributeCount, CK_BYTE* extensions, CK_ULONG extensionCount)
{
    Call call = NewCall("C_KTL_CreateCSR", {session, publicKey, subjectCount, csrLength != nullptr ? *csrLength : 0,
                                            privateKey, attributeCount, extensionCount});
    call.buffers = {CopyPacked(subject, 2 * subjectCount), CopyPacked(attributes, 2 * attributeCount),
                    CopyPacked(extensions, 3 * extensionCount)};
    call.outputNull = csr == nullptr;
    return Run(call, [&] { return Token().CreateCsr(session, publicKey, privateKey, csr, csrLength); });
}

CK_RV SignWithCert(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_OBJECT_HANDLE certificate,
                   CK_BYTE* signature, CK_ULONG* signatureLength, CK_ULONG r1, CK_ULONG r2, CK_ULONG r3, CK_ULONG r4)
{
    Call call = NewCall("C_KTL_SignWithCert",
                        {session, certificate, signatureLength != nullptr ? *signatureLength : 0, r1, r2, r3, r4});
    call.buffers = {Copy(data, length)};
    call.outputNull = signature == nullptr;
    return Run(call, [&] { return Token().SignWithCert(session, certificate, signature, signatureLength); });
}

CK_RV VerifySignature(CK_BYTE* signature, CK_ULONG signatureLength, CK_BYTE* data, CK_ULONG length)
{
    Call call = NewCall("C_KTL_VerifySignature");
    call.buffers = {Copy(signature, signatureLength), Copy(data, length)};
    return Run(call, [] { return static_cast<CK_RV>(CKR_OK); });
}

CK_RV InitPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR* pin, CK_ULONG length)
{
    Call call = NewCall("C_InitPIN", {session});
    call.buffers = {Copy(pin, length)};
    return Run(call, [&] { return Token().InitPin(session, CopyOrEmpty(pin, length)); });
}

// PKCS#11 3.0 entries, only for their words after a 3.0 list; never to be called as vendor
// entries.
CK_RV GetInterfaceList30() { return Unsupported("C_GetInterfaceList"); }
CK_RV GetInterface30() { return Unsupported("C_GetInterface"); }
CK_RV LoginUser30() { return Unsupported("C_LoginUser"); }
CK_RV SessionCancel30() { return Unsupported("C_SessionCancel"); }
CK_RV MessageEncryptInit30() { return Unsupported("C_MessageEncryptInit"); }

// Entries this token does not offer: recorded by name, answered CKR_FUNCTION_NOT_SUPPORTED.
#define FAKE_UNSUPPORTED(entry) \
    list.standard.entry = [](auto...) -> CK_RV { return Unsupported(#entry); }

CK_KTL_FUNCTION_LIST MakeFunctionList()
{
    CK_KTL_FUNCTION_LIST list;
    std::memset(&list, 0, sizeof(list));
    list.standard.version = {2, 20};
    list.standard.C_Initialize = Initialize;
    list.standard.C_Finalize = Finalize;
    list.standard.C_GetInfo = GetInfo;
    list.standard.C_GetFunctionList = C_GetFunctionList;
    list.standard.C_GetSlotList = GetSlotList;
    list.standard.C_GetSlotInfo = GetSlotInfo;
    list.standard.C_GetTokenInfo = GetTokenInfo;
    list.standard.C_GetMechanismList = GetMechanismList;
    list.standard.C_GetMechanismInfo = GetMechanismInfo;
    list.standard.C_InitToken = InitToken;
    list.standard.C_InitPIN = InitPIN;
    list.standard.C_SetPIN = SetPIN;
    list.standard.C_OpenSession = OpenSession;
    list.standard.C_CloseSession = CloseSession;
    list.standard.C_CloseAllSessions = CloseAllSessions;
    list.standard.C_GetSessionInfo = GetSessionInfo;
    FAKE_UNSUPPORTED(C_GetOperationState);
    FAKE_UNSUPPORTED(C_SetOperationState);
    list.standard.C_Login = Login;
    list.standard.C_Logout = Logout;
    list.standard.C_CreateObject = CreateObject;
    FAKE_UNSUPPORTED(C_CopyObject);
    list.standard.C_DestroyObject = DestroyObject;
    FAKE_UNSUPPORTED(C_GetObjectSize);
    list.standard.C_GetAttributeValue = GetAttributeValue;
    FAKE_UNSUPPORTED(C_SetAttributeValue);
    list.standard.C_FindObjectsInit = FindObjectsInit;
    list.standard.C_FindObjects = FindObjects;
    list.standard.C_FindObjectsFinal = FindObjectsFinal;
    FAKE_UNSUPPORTED(C_EncryptInit);
    FAKE_UNSUPPORTED(C_Encrypt);
    FAKE_UNSUPPORTED(C_EncryptUpdate);
    FAKE_UNSUPPORTED(C_EncryptFinal);
    FAKE_UNSUPPORTED(C_DecryptInit);
    FAKE_UNSUPPORTED(C_Decrypt);
    FAKE_UNSUPPORTED(C_DecryptUpdate);
    FAKE_UNSUPPORTED(C_DecryptFinal);
    FAKE_UNSUPPORTED(C_DigestInit);
    FAKE_UNSUPPORTED(C_Digest);
    FAKE_UNSUPPORTED(C_DigestUpdate);
    FAKE_UNSUPPORTED(C_DigestKey);
    FAKE_UNSUPPORTED(C_DigestFinal);
    list.standard.C_SignInit = SignInit;
    list.standard.C_Sign = Sign;
    FAKE_UNSUPPORTED(C_SignUpdate);
    FAKE_UNSUPPORTED(C_SignFinal);
    FAKE_UNSUPPORTED(C_SignRecoverInit);
    FAKE_UNSUPPORTED(C_SignRecover);
    list.standard.C_VerifyInit = VerifyInit;
    list.standard.C_Verify = Verify;
    FAKE_UNSUPPORTED(C_VerifyUpdate);
    FAKE_UNSUPPORTED(C_VerifyFinal);
    FAKE_UNSUPPORTED(C_VerifyRecoverInit);
    FAKE_UNSUPPORTED(C_VerifyRecover);
    FAKE_UNSUPPORTED(C_DigestEncryptUpdate);
    FAKE_UNSUPPORTED(C_DecryptDigestUpdate);
    FAKE_UNSUPPORTED(C_SignEncryptUpdate);
    FAKE_UNSUPPORTED(C_DecryptVerifyUpdate);
    list.standard.C_GenerateKey = GenerateKey;
    list.standard.C_GenerateKeyPair = GenerateKeyPair;
    FAKE_UNSUPPORTED(C_WrapKey);
    FAKE_UNSUPPORTED(C_UnwrapKey);
    FAKE_UNSUPPORTED(C_DeriveKey);
    FAKE_UNSUPPORTED(C_SeedRandom);
    FAKE_UNSUPPORTED(C_GenerateRandom);
    FAKE_UNSUPPORTED(C_GetFunctionStatus);
    FAKE_UNSUPPORTED(C_CancelFunction);
    FAKE_UNSUPPORTED(C_WaitForSlotEvent);
    list.C_KTL_LoadCert = LoadCert;
    list.C_KTL_LoadX509Cert = LoadX509Cert;
    list.C_KTL_CreateCSR = CreateCSR;
    list.C_KTL_SignWithCert = SignWithCert;
    list.C_KTL_VerifySignature = VerifySignature;
    return list;
}

#undef FAKE_UNSUPPORTED

CK_KTL_FUNCTION_LIST& FunctionList()
{
    static CK_KTL_FUNCTION_LIST list = MakeFunctionList();
    return list;
}

// Data of the fake's own, pointed at by one of the garbage words.
const unsigned char kGarbageTarget[16] = {0};

bool g_vendorInterfaceOffered = false;

CK_KTL_VENDOR_FUNCTION_LIST& VendorInterfaceList()
{
    static CK_KTL_VENDOR_FUNCTION_LIST list = {
        {kKtlVendorInterfaceMajor, 0}, LoadCert, LoadX509Cert, CreateCSR, SignWithCert, VerifySignature};
    return list;
}

CK_CHAR* InterfaceName(const char* name) { return reinterpret_cast<CK_CHAR*>(const_cast<char*>(name)); }

// The published interfaces: the standard one, then the vendor one when it is offered.
CK_INTERFACE* Interfaces(CK_ULONG& count)
{
    static CK_INTERFACE interfaces[] = {{InterfaceName("PKCS 11"), &FunctionList().standard, 0},
                                        {InterfaceName(kKtlVendorInterfaceName), &VendorInterfaceList(), 0}};
    count = g_vendorInterfaceOffered ? 2 : 1;
    return interfaces;
}

}  // namespace

void SetVendorInterface(bool offered) { g_vendorInterfaceOffered = offered; }

CK_RV GetInterfaceList(CK_INTERFACE* list, CK_ULONG* count)
{
    Call call = NewCall("C_GetInterfaceList", {count != nullptr ? *count : 0});
    call.outputNull = list == nullptr;
    return Run(call, [&] {
        CK_ULONG published = 0;
        const CK_INTERFACE* interfaces = Interfaces(published);
        if (count == nullptr) return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
        const CK_ULONG available = *count;
        *count = published;
        if (list == nullptr) return static_cast<CK_RV>(CKR_OK);
        if (available < published) return static_cast<CK_RV>(CKR_BUFFER_TOO_SMALL);
        std::copy(interfaces, interfaces + published, list);
        return static_cast<CK_RV>(CKR_OK);
    });
}

CK_RV GetInterface(CK_UTF8CHAR* name, CK_VERSION* version, CK_INTERFACE** found, CK_FLAGS flags)
{
    Call call = NewCall("C_GetInterface", {flags});
    call.buffers = {name != nullptr ? Copy(name, std::strlen(reinterpret_cast<const char*>(name))) : std::nullopt};
    return Run(call, [&] {
        if (found == nullptr) return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
        *found = nullptr;
        const std::string wanted = name != nullptr ? reinterpret_cast<const char*>(name) : "PKCS 11";
        CK_ULONG published = 0;
        CK_INTERFACE* interfaces = Interfaces(published);
        for (CK_INTERFACE* interface = interfaces; interface != interfaces + published; ++interface) {
            const auto* listVersion = static_cast<const CK_VERSION*>(interface->pFunctionList);
            const bool versionMatches =
                version == nullptr || (listVersion->major == version->major && listVersion->minor == version->minor);
            if (wanted == reinterpret_cast<const char*>(interface->pInterfaceName) && versionMatches &&
                (interface->flags & flags) == flags) {
                *found = interface;
                return static_cast<CK_RV>(CKR_OK);
            }
        }
        return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
    });
}

void SetVendorWords(const std::vector<const void*>& words)
{
    if (words.size() != 5) throw std::invalid_argument("five vendor words");
    CK_KTL_FUNCTION_LIST& list = FunctionList();
    list.C_KTL_LoadCert = reinterpret_cast<CK_C_KTL_LoadCert>(const_cast<void*>(words[0]));
    list.C_KTL_LoadX509Cert = reinterpret_cast<CK_C_KTL_LoadX509Cert>(const_cast<void*>(words[1]));
    list.C_KTL_CreateCSR = reinterpret_cast<CK_C_KTL_CreateCSR>(const_cast<void*>(words[2]));
    list.C_KTL_SignWithCert = reinterpret_cast<CK_C_KTL_SignWithCert>(const_cast<void*>(words[3]));
    list.C_KTL_VerifySignature = reinterpret_cast<CK_C_KTL_VerifySignature>(const_cast<void*>(words[4]));
}

void SetNullEntries(const std::vector<std::string>& entries)
{
    CK_FUNCTION_LIST& list = FunctionList().standard;
    for (const std::string& name : entries) {
        bool known = false;
#define FAKE_NULL_ENTRY(entry, spec)  \
    if (name == #entry) {             \
        list.entry = nullptr;         \
        known = true;                 \
    }
#define FAKE_VENDOR_ENTRY(entry, spec)
        TOKENTEST_FUNCTION_LIST_ENTRIES(FAKE_NULL_ENTRY, FAKE_VENDOR_ENTRY)
#undef FAKE_NULL_ENTRY
#undef FAKE_VENDOR_ENTRY
        if (!known) throw std::invalid_argument("no standard entry \"" + name + "\"");
    }
}

void RestoreStandardEntries() { FunctionList().standard = MakeFunctionList().standard; }

void SetVendorWords(VendorWords words)
{
    switch (words) {
    case VendorWords::Module:
        SetVendorWords({reinterpret_cast<const void*>(LoadCert), reinterpret_cast<const void*>(LoadX509Cert),
                        reinterpret_cast<const void*>(CreateCSR), reinterpret_cast<const void*>(SignWithCert),
                        reinterpret_cast<const void*>(VerifySignature)});
        break;
    case VendorWords::Null:
        SetVendorWords({nullptr, nullptr, nullptr, nullptr, nullptr});
        break;
    case VendorWords::Garbage:
        SetVendorWords({reinterpret_cast<const void*>(0x1), reinterpret_cast<const void*>(&std::abort),
                        kGarbageTarget, reinterpret_cast<const void*>(0xfffffffffff0ull), nullptr});
        break;
    case VendorWords::Pkcs11v3:
        SetVendorWords({reinterpret_cast<const void*>(GetInterfaceList30), reinterpret_cast<const void*>(GetInterface30),
                        reinterpret_cast<const void*>(LoginUser30), reinterpret_cast<const void*>(SessionCancel30),
                        reinterpret_cast<const void*>(MessageEncryptInit30)});
        break;
    }
    FunctionList().standard.version = words == VendorWords::Pkcs11v3 ? CK_VERSION{3, 0} : CK_VERSION{2, 20};
}

namespace {

// In a child process the environment scripts the token and names the log, once per load.
bool ReadEnvironmentOnce()
{
    static bool done = false;
    static bool ok = true;
    if (done) return ok;
    done = true;
    if (const char* log = std::getenv("FAKE_PKCS11_LOG")) Recorder().SetLogFile(log);
    if (const char* script = std::getenv("FAKE_PKCS11_SCRIPT")) {
        try {
            ScriptFile::Load(script).Apply();
        } catch (const std::exception& e) {
            std::cerr << "fake PKCS#11 module: " << e.what() << std::endl;
            ok = false;
        }
    }
    return ok;
}

}  // namespace

}  // namespace fake

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list)
{
    using namespace fake;
    const bool scripted = ReadEnvironmentOnce();
    return Run(NewCall("C_GetFunctionList"), [&] {
        if (!scripted) return static_cast<CK_RV>(CKR_GENERAL_ERROR);
        if (list == nullptr) return static_cast<CK_RV>(CKR_ARGUMENTS_BAD);
        *list = &FunctionList().standard;
        return static_cast<CK_RV>(CKR_OK);
    });
}
