#pragma once
// What the RSA and GOST signature tests share: the test file settings, the one-byte
// identifiers of the test objects, lookup and deletion of those objects on the token,
// the certificate and PKCS#12 file readers, certificate import and CSR generation.
#include <cstdint>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "signature/ISignatureOperator.h"
#include "token/TokenOperator.h"

class CBaseSignatureOperator : public CTokenOperator, public ISignatureOperator {
public:
    CBaseSignatureOperator();
    ~CBaseSignatureOperator() override;

    void GenerateKeyPair(int keySize) override = 0;
    virtual void GenerateSecretKey() = 0;
    void GenerateCSR() override;
    virtual void StoreSecretKey();
    void LoadX509CertificateBase64() override;
    void LoadX509CertificateDER() override;
    void LoadCertificateWithKey() override;
    void SignAndVerifyWithCertificate() override = 0;
    void SignAndVerifyWithKey() override = 0;
    virtual void CalculateAndVerifyMac() = 0;
    void DeleteKeyPair() override;
    virtual void DeleteSecretKey();
    void DeleteX509Certificate() override;

protected:
    // Lookup of a test object by class and one-byte CKA_ID; the first match wins.
    CK_OBJECT_HANDLE FindObject(CK_ATTRIBUTE* pTemplate, unsigned long ulCount);
    CK_OBJECT_HANDLE FindPublicKey();
    CK_OBJECT_HANDLE FindPrivateKey();
    CK_OBJECT_HANDLE FindSecretKey();
    CK_OBJECT_HANDLE FindX509Certificate();

    // Test file readers: fill an empty vector, false when the file cannot be read.
    bool ReadCertificateFileDER(const char* path, std::vector<unsigned char>& rCertificate);
    bool ReadP12File(const char* path, std::vector<unsigned char>& rP12data);
    bool ReadCertificateFileBase64(const char* path, std::vector<unsigned char>& rCertificate);

    // CSR helpers: pack C strings with their NULs; write "csr_der.dat" and "csr_base64.txt".
    std::vector<unsigned char> MakeContiguous(char** strings, unsigned int count);
    void WriteToFile(unsigned char* data, unsigned long length);

    // Fills 32 bytes from the never-seeded C library generator.
    static std::vector<unsigned char> MakeTestData();

    uint8_t m_keyPairId;
    uint8_t m_secretKeyId;
    uint8_t m_certificateId;
    std::string m_p12FilePath;
    std::vector<unsigned char> m_p12Password;
    std::string m_base64CertificatePath;
    std::string m_derCertificatePath;
};
