#pragma once
// One process's use of the built software token, loaded with dlopen as any client loads it:
// the calls the concurrency scenarios make, each answering the module's code.
#include <p11-kit/pkcs11.h>

#include <string>
#include <vector>

namespace softtoken_test {

using Bytes = std::vector<unsigned char>;

class ModuleClient {
public:
    // Loads the module (it stays loaded for the rest of the process, as hosts keep it) and
    // initialises it; finalises when the object goes.
    explicit ModuleClient(const std::string& modulePath);
    ~ModuleClient();
    ModuleClient(const ModuleClient&) = delete;
    ModuleClient& operator=(const ModuleClient&) = delete;

    CK_RV Status() const { return m_status; }  // of loading and C_Initialize

    CK_RV InitToken(const Bytes& soPin);
    CK_RV Open(CK_SESSION_HANDLE& session, bool readWrite = true);
    CK_RV Close(CK_SESSION_HANDLE session);
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin);
    CK_RV Logout(CK_SESSION_HANDLE session);
    CK_RV SetPin(CK_SESSION_HANDLE session, const Bytes& oldPin, const Bytes& newPin);
    // A data object with the given label, on the token or in the session.
    CK_RV CreateData(CK_SESSION_HANDLE session, bool onToken, bool isPrivate, const std::string& label,
                     CK_OBJECT_HANDLE& object);
    CK_RV ReadLabel(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, std::string& label);
    CK_RV CountObjects(CK_SESSION_HANDLE session, CK_ULONG& count);
    // An RSA-1024 key pair on the token, as the utility makes them.
    CK_RV GenerateKeyPair(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey);
    CK_RV Sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key);
    CK_RV Destroy(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);

    // A PIN of eight digits made from a number, for PINs that differ per round and process.
    static Bytes PinFor(int number);

private:
    CK_FUNCTION_LIST* m_f = nullptr;
    CK_RV m_status = CKR_GENERAL_ERROR;
};

}  // namespace softtoken_test
