#include "ModuleClient.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace softtoken_test {
namespace {

// One load per path and process; the library is never closed.
CK_FUNCTION_LIST* Load(const std::string& path) {
    static std::map<std::string, CK_FUNCTION_LIST*> loaded;
    auto it = loaded.find(path);
    if (it != loaded.end()) return it->second;
    CK_FUNCTION_LIST* list = nullptr;
    if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        if (getList == nullptr || getList(&list) != CKR_OK) list = nullptr;
    }
    loaded[path] = list;
    return list;
}

}  // namespace

ModuleClient::ModuleClient(const std::string& modulePath) : m_f(Load(modulePath)) {
    if (m_f != nullptr) m_status = m_f->C_Initialize(nullptr);
}

ModuleClient::~ModuleClient() {
    if (m_f != nullptr && m_status == CKR_OK) m_f->C_Finalize(nullptr);
}

Bytes ModuleClient::PinFor(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%08d", number % 100000000);
    return Bytes(text, text + 8);
}

CK_RV ModuleClient::InitToken(const Bytes& soPin) {
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    Bytes pin = soPin;
    return m_f->C_InitToken(0, pin.data(), pin.size(), label);
}

CK_RV ModuleClient::Open(CK_SESSION_HANDLE& session, bool readWrite) {
    return m_f->C_OpenSession(0, CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0), nullptr, nullptr, &session);
}

CK_RV ModuleClient::Close(CK_SESSION_HANDLE session) { return m_f->C_CloseSession(session); }

CK_RV ModuleClient::Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin) {
    Bytes value = pin;
    return m_f->C_Login(session, user, value.data(), value.size());
}

CK_RV ModuleClient::Logout(CK_SESSION_HANDLE session) { return m_f->C_Logout(session); }

CK_RV ModuleClient::SetPin(CK_SESSION_HANDLE session, const Bytes& oldPin, const Bytes& newPin) {
    Bytes oldValue = oldPin, newValue = newPin;
    return m_f->C_SetPIN(session, oldValue.data(), oldValue.size(), newValue.data(), newValue.size());
}

CK_RV ModuleClient::CreateData(CK_SESSION_HANDLE session, bool onToken, bool isPrivate, const std::string& label,
                               CK_OBJECT_HANDLE& object) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL token = onToken ? CK_TRUE : CK_FALSE, secret = isPrivate ? CK_TRUE : CK_FALSE;
    std::string text = label;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                 {CKA_TOKEN, &token, 1},
                                 {CKA_PRIVATE, &secret, 1},
                                 {CKA_LABEL, text.data(), text.size()}};
    return m_f->C_CreateObject(session, attributes, 4, &object);
}

CK_RV ModuleClient::ReadLabel(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, std::string& label) {
    char buffer[256];
    CK_ATTRIBUTE attribute = {CKA_LABEL, buffer, sizeof buffer};
    const CK_RV rv = m_f->C_GetAttributeValue(session, object, &attribute, 1);
    if (rv == CKR_OK && attribute.ulValueLen <= sizeof buffer) label.assign(buffer, attribute.ulValueLen);
    return rv;
}

CK_RV ModuleClient::CountObjects(CK_SESSION_HANDLE session, CK_ULONG& count) {
    count = 0;
    CK_RV rv = m_f->C_FindObjectsInit(session, nullptr, 0);
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE batch[16];
    CK_ULONG got = 0;
    do {
        rv = m_f->C_FindObjects(session, batch, 16, &got);
        count += got;
    } while (rv == CKR_OK && got != 0);
    const CK_RV final = m_f->C_FindObjectsFinal(session);
    return rv != CKR_OK ? rv : final;
}

CK_RV ModuleClient::GenerateKeyPair(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE& publicKey,
                                    CK_OBJECT_HANDLE& privateKey) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &yes, 1}, {CKA_VERIFY, &yes, 1}, {CKA_MODULUS_BITS, &bits, sizeof bits}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SIGN, &yes, 1}};
    return m_f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 3, &publicKey, &privateKey);
}

CK_RV ModuleClient::Sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    CK_RV rv = m_f->C_SignInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    CK_BYTE data[32] = {7}, signature[512];
    CK_ULONG length = sizeof signature;
    return m_f->C_Sign(session, data, sizeof data, signature, &length);
}

CK_RV ModuleClient::Destroy(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    return m_f->C_DestroyObject(session, object);
}

}  // namespace softtoken_test
