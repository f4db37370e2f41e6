// A host of the software token that uses and finalises it from an exit handler: registered
// before the module was loaded, as OpenSSL's pkcs11 engine does ("early"), or after
// C_Initialize but before the first C_GetMechanismList ("late"). It initialises the token,
// signs with a generated key and returns from main. Exit status 0 when every call answered
// as expected: CKR_OK while the module's state lives, CKR_CRYPTOKI_NOT_INITIALIZED after.
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

CK_FUNCTION_LIST* g_module = nullptr;
bool g_late = false;

void Check(const char* call, CK_RV rv, CK_RV expected = CKR_OK) {
    if (rv == expected) return;
    std::fprintf(stderr, "%s answered 0x%lX\n", call, rv);
    _exit(1);
}

void FinaliseAtExit() {
    // Room for every mechanism the token lists.
    CK_MECHANISM_TYPE mechanisms[256];
    CK_ULONG count = 256;
    const CK_RV listed = g_module->C_GetMechanismList(0, mechanisms, &count);
    const CK_RV closed = g_module->C_CloseAllSessions(0);
    const CK_RV finalised = g_module->C_Finalize(nullptr);
    std::printf("exit handler: C_GetMechanismList answered 0x%lX, C_CloseAllSessions 0x%lX, C_Finalize 0x%lX\n",
                listed, closed, finalised);
    std::fflush(stdout);
    for (CK_RV rv : {listed, closed, finalised})
        if (rv != CKR_OK && (g_late || rv != CKR_CRYPTOKI_NOT_INITIALIZED)) _exit(1);
}

void SignOnce() {
    CK_UTF8CHAR pin[] = "52816037";
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    Check("C_InitToken", g_module->C_InitToken(0, pin, 8, label));
    CK_SESSION_HANDLE session = 0;
    Check("C_OpenSession", g_module->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session));
    Check("C_Login", g_module->C_Login(session, CKU_USER, pin, 8));
    CK_MECHANISM generate = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, 1}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    Check("C_GenerateKeyPair", g_module->C_GenerateKeyPair(session, &generate, publicTemplate, 1, privateTemplate, 1,
                                                           &publicKey, &privateKey));
    CK_MECHANISM sign = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    CK_BYTE data[] = "signed before exit";
    CK_BYTE signature[128];
    CK_ULONG length = sizeof signature;
    Check("C_SignInit", g_module->C_SignInit(session, &sign, privateKey));
    Check("C_Sign", g_module->C_Sign(session, data, sizeof data, signature, &length));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[2], "early") != 0 && std::strcmp(argv[2], "late") != 0)) {
        std::fprintf(stderr, "usage: %s MODULE early|late\n", argv[0]);
        return 2;
    }
    g_late = std::strcmp(argv[2], "late") == 0;
    if (!g_late) std::atexit(FinaliseAtExit);
    // Stays loaded until the process ends, as the engine leaves it.
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    if (getList == nullptr) return 1;
    Check("C_GetFunctionList", getList(&g_module));
    Check("C_Initialize", g_module->C_Initialize(nullptr));
    if (g_late) std::atexit(FinaliseAtExit);
    SignOnce();
    CK_ULONG mechanisms = 0;
    Check("C_GetMechanismList", g_module->C_GetMechanismList(0, nullptr, &mechanisms));
    return 0;
}
