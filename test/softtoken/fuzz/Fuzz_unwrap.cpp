// Wrapped keys made from the input, given to C_UnwrapKey (and the same bytes to C_Decrypt)
// under an AES-128 key. The first byte picks the mechanism, the second the key type and
// CKA_VALUE_LEN of the template; the rest is the wrapped key. The module must answer every
// input with a code, never CKR_GENERAL_ERROR, CKR_HOST_MEMORY or CKR_DEVICE_ERROR.
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

CK_FUNCTION_LIST* f = nullptr;
CK_SESSION_HANDLE g_session = 0;
CK_OBJECT_HANDLE g_kek = 0;
std::string g_storeDir;

void Expect(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_unwrap: %s\n", what);
    std::abort();
}

void Check(CK_RV rv, const char* call) {
    if (rv == CKR_GENERAL_ERROR || rv == CKR_HOST_MEMORY || rv == CKR_DEVICE_ERROR) {
        std::fprintf(stderr, "fuzz_unwrap: %s answered 0x%lX\n", call, rv);
        std::abort();
    }
}

void RemoveStore() {
    std::error_code ignored;
    std::filesystem::remove_all(g_storeDir, ignored);
}

void SetUp() {
    CK_UTF8CHAR pin[] = "52816037";
    CK_UTF8CHAR label[33] = "fuzzed unwrapping               ";
    Expect(C_GetFunctionList(&f) == CKR_OK, "C_GetFunctionList");
    Expect(f->C_Initialize(nullptr) == CKR_OK, "C_Initialize");
    Expect(f->C_InitToken(0, pin, 8, label) == CKR_OK, "C_InitToken");
    Expect(f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &g_session) == CKR_OK,
           "C_OpenSession");
    Expect(f->C_Login(g_session, CKU_USER, pin, 8) == CKR_OK, "C_Login");
    CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BBOOL yes = CK_TRUE;
    Bytes value(16, 0x3C);
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &aes, sizeof aes},
                                 {CKA_UNWRAP, &yes, 1}, {CKA_DECRYPT, &yes, 1}, {CKA_VALUE, value.data(), value.size()}};
    Expect(f->C_CreateObject(g_session, attributes, 5, &g_kek) == CKR_OK, "the unwrapping key");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/fuzz-unwrap-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    g_storeDir = dir;
    std::atexit(RemoveStore);
    setenv("SOFTTOKEN_STORE", (g_storeDir + "/store.db").c_str(), 1);
    unsetenv("SOFTTOKEN_SLOTS");
    SetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const CK_MECHANISM_TYPE kMechanisms[] = {CKM_AES_KEY_WRAP, CKM_AES_KEY_WRAP_PAD, CKM_AES_ECB, CKM_AES_CBC,
                                                    CKM_AES_CBC_PAD,  CKM_AES_GCM,          CKM_AES_CTR};
    static const CK_KEY_TYPE kKeyTypes[] = {CKK_AES, CKK_GENERIC_SECRET, CKK_DES, CKK_DES3};
    Bytes iv(16, 0x01);
    CK_GCM_PARAMS gcm = {iv.data(), 12, 96, nullptr, 0, 128};
    CK_AES_CTR_PARAMS ctr = {128, {}};
    CK_MECHANISM mechanism = {kMechanisms[data[0] % 7], nullptr, 0};
    if (mechanism.mechanism == CKM_AES_CBC || mechanism.mechanism == CKM_AES_CBC_PAD)
        mechanism = {mechanism.mechanism, iv.data(), iv.size()};
    if (mechanism.mechanism == CKM_AES_GCM) mechanism = {mechanism.mechanism, &gcm, sizeof gcm};
    if (mechanism.mechanism == CKM_AES_CTR) mechanism = {mechanism.mechanism, &ctr, sizeof ctr};

    CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = kKeyTypes[data[1] % 4];
    CK_ULONG valueLength = data[1] >> 2;
    std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &keyType, sizeof keyType}};
    if (valueLength) attributes.push_back({CKA_VALUE_LEN, &valueLength, sizeof valueLength});
    Bytes wrapped(data + 2, data + size);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    const CK_RV rv = f->C_UnwrapKey(g_session, &mechanism, g_kek, wrapped.data(), wrapped.size(), attributes.data(),
                                    attributes.size(), &key);
    Check(rv, "C_UnwrapKey");
    if (rv == CKR_OK) Expect(f->C_DestroyObject(g_session, key) == CKR_OK, "destroying the unwrapped key");

    Check(f->C_DecryptInit(g_session, &mechanism, g_kek), "C_DecryptInit");
    Bytes out(wrapped.size() + 32);
    CK_ULONG outLength = out.size();
    Check(f->C_Decrypt(g_session, wrapped.data(), wrapped.size(), out.data(), &outLength), "C_Decrypt");
    Expect(outLength <= out.size(), "C_Decrypt claimed more than the buffer");
    return 0;
}
