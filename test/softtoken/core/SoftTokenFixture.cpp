#include "SoftTokenFixture.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace softtoken_test {

const Bytes kDefaultPin = {'5', '2', '8', '1', '6', '0', '3', '7'};

Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
CK_BBOOL Value::True = CK_TRUE;
CK_BBOOL Value::False = CK_FALSE;

CK_FUNCTION_LIST* LoadSharedModule() {
    void* library = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* list = nullptr;
    if (getList == nullptr || getList(&list) != CKR_OK) return nullptr;
    return list;  // stays loaded for the rest of the process
}

std::string RvName(CK_RV rv) {
    static const std::map<CK_RV, std::string> names = {
#define NAME(code) {code, #code}
        NAME(CKR_OK), NAME(CKR_HOST_MEMORY), NAME(CKR_SLOT_ID_INVALID), NAME(CKR_GENERAL_ERROR),
        NAME(CKR_ARGUMENTS_BAD), NAME(CKR_ATTRIBUTE_READ_ONLY), NAME(CKR_ATTRIBUTE_SENSITIVE),
        NAME(CKR_ATTRIBUTE_TYPE_INVALID), NAME(CKR_ATTRIBUTE_VALUE_INVALID), NAME(CKR_ACTION_PROHIBITED),
        NAME(CKR_DATA_INVALID), NAME(CKR_DATA_LEN_RANGE), NAME(CKR_DEVICE_ERROR), NAME(CKR_FUNCTION_NOT_SUPPORTED),
        NAME(CKR_KEY_HANDLE_INVALID), NAME(CKR_KEY_SIZE_RANGE), NAME(CKR_KEY_TYPE_INCONSISTENT),
        NAME(CKR_KEY_FUNCTION_NOT_PERMITTED), NAME(CKR_MECHANISM_INVALID), NAME(CKR_MECHANISM_PARAM_INVALID),
        NAME(CKR_OBJECT_HANDLE_INVALID), NAME(CKR_OPERATION_ACTIVE), NAME(CKR_OPERATION_NOT_INITIALIZED),
        NAME(CKR_PIN_INCORRECT), NAME(CKR_PIN_LEN_RANGE), NAME(CKR_PIN_LOCKED),
        NAME(CKR_SESSION_HANDLE_INVALID), NAME(CKR_SESSION_PARALLEL_NOT_SUPPORTED), NAME(CKR_SESSION_READ_ONLY),
        NAME(CKR_SESSION_EXISTS), NAME(CKR_SESSION_READ_ONLY_EXISTS), NAME(CKR_SESSION_READ_WRITE_SO_EXISTS),
        NAME(CKR_SIGNATURE_INVALID), NAME(CKR_SIGNATURE_LEN_RANGE), NAME(CKR_TEMPLATE_INCOMPLETE),
        NAME(CKR_TEMPLATE_INCONSISTENT), NAME(CKR_USER_ALREADY_LOGGED_IN), NAME(CKR_USER_NOT_LOGGED_IN),
        NAME(CKR_USER_PIN_NOT_INITIALIZED), NAME(CKR_USER_TYPE_INVALID),
        NAME(CKR_USER_ANOTHER_ALREADY_LOGGED_IN), NAME(CKR_BUFFER_TOO_SMALL),
        NAME(CKR_CRYPTOKI_NOT_INITIALIZED), NAME(CKR_CRYPTOKI_ALREADY_INITIALIZED), NAME(CKR_CANT_LOCK),
        NAME(CKR_RANDOM_SEED_NOT_SUPPORTED), NAME(CKR_FUNCTION_NOT_PARALLEL),
#undef NAME
    };
    auto it = names.find(rv);
    if (it != names.end()) return it->second;
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", rv);
    return text;
}

void SoftTokenTest::SetUp() {
    setenv("SOFTTOKEN_STORE", StorePath().c_str(), 1);
    unsetenv("SOFTTOKEN_SLOTS");
    ASSERT_RV(CKR_OK, C_GetFunctionList(&f));
    vendor = reinterpret_cast<CK_KTL_FUNCTION_LIST*>(f);
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
}

void SoftTokenTest::TearDown() { f->C_Finalize(nullptr); }

void SoftTokenTest::Reinitialize() {
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
}

void SoftTokenTest::InitToken(const Bytes& soPin) {
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "KORVEL Token", 12);
    ASSERT_RV(CKR_OK, f->C_InitToken(0, const_cast<CK_UTF8CHAR*>(soPin.data()), soPin.size(), label));
}

CK_SESSION_HANDLE SoftTokenTest::Open(bool readWrite) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_RV(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0), nullptr, nullptr,
                                       &session));
    return session;
}

CK_RV SoftTokenTest::Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin) {
    return f->C_Login(session, user, const_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
}

CK_SESSION_HANDLE SoftTokenTest::LoginUser() {
    InitToken();
    CK_SESSION_HANDLE session = Open();
    EXPECT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    return session;
}

CK_OBJECT_HANDLE SoftTokenTest::CreateData(CK_SESSION_HANDLE session, bool token, bool isPrivate,
                                           const std::string& label) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL tokenValue = token ? CK_TRUE : CK_FALSE;
    CK_BBOOL privateValue = isPrivate ? CK_TRUE : CK_FALSE;
    std::string value = "value of " + label;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &dataClass, sizeof dataClass},
        {CKA_TOKEN, &tokenValue, 1},
        {CKA_PRIVATE, &privateValue, 1},
        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
        {CKA_VALUE, value.data(), value.size()},
    };
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    EXPECT_RV(CKR_OK, f->C_CreateObject(session, attributes, 5, &object));
    return object;
}

std::vector<CK_OBJECT_HANDLE> SoftTokenTest::Find(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> query) {
    std::vector<CK_OBJECT_HANDLE> found;
    EXPECT_RV(CKR_OK, f->C_FindObjectsInit(session, query.empty() ? nullptr : query.data(), query.size()));
    CK_OBJECT_HANDLE batch[7];
    CK_ULONG count = 0;
    do {
        EXPECT_RV(CKR_OK, f->C_FindObjects(session, batch, 7, &count));
        found.insert(found.end(), batch, batch + count);
    } while (count != 0);
    EXPECT_RV(CKR_OK, f->C_FindObjectsFinal(session));
    return found;
}

Bytes SoftTokenTest::Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    EXPECT_RV(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) return {};
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    EXPECT_RV(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
    return value;
}

CK_ULONG SoftTokenTest::UlongAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    const Bytes value = Attribute(session, object, type);
    CK_ULONG result = CK_UNAVAILABLE_INFORMATION;
    EXPECT_EQ(sizeof result, value.size());
    if (value.size() == sizeof result) std::memcpy(&result, value.data(), sizeof result);
    return result;
}

void SoftTokenTest::GenerateRsa(CK_SESSION_HANDLE session, CK_ULONG bits, CK_OBJECT_HANDLE& publicKey,
                                CK_OBJECT_HANDLE& privateKey) {
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    CK_BYTE id = 100;
    char publicLabel[] = "An RSA public key object";
    char privateLabel[] = "An RSA private key object";
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_ENCRYPT, &Value::True, 1}, {CKA_VERIFY, &Value::True, 1},
        {CKA_WRAP, &Value::True, 1},    {CKA_MODULUS_BITS, &bits, sizeof bits},
        {CKA_PUBLIC_EXPONENT, exponent, 3}, {CKA_ID, &id, 1},
        {CKA_LABEL, publicLabel, 24},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &Value::True, 1},   {CKA_PRIVATE, &Value::True, 1}, {CKA_SENSITIVE, &Value::True, 1},
        {CKA_DECRYPT, &Value::True, 1}, {CKA_SIGN, &Value::True, 1},    {CKA_UNWRAP, &Value::True, 1},
        {CKA_ID, &id, 1},               {CKA_LABEL, privateLabel, 25},
    };
    ASSERT_RV(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 7, privateTemplate, 8, &publicKey,
                                           &privateKey));
}

CK_RV SoftTokenTest::Sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                          Bytes& signature) {
    CK_RV rv = f->C_SignInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    CK_ULONG length = 0;
    Bytes input = data;
    rv = f->C_Sign(session, input.data(), input.size(), nullptr, &length);
    if (rv != CKR_OK) return rv;
    signature.assign(length, 0);
    rv = f->C_Sign(session, input.data(), input.size(), signature.data(), &length);
    signature.resize(rv == CKR_OK ? length : 0);
    return rv;
}

CK_RV SoftTokenTest::Verify(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
                            const Bytes& data, const Bytes& signature) {
    CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
    if (rv != CKR_OK) return rv;
    Bytes input = data, sig = signature;
    return f->C_Verify(session, input.data(), input.size(), sig.data(), sig.size());
}

}  // namespace softtoken_test
