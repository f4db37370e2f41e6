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

    // Reads the test files from `directory` (ending in '/') instead of "../conf/".
    void SetConfDir(const std::string& directory);
    // The test files as the import steps read them, without a token call: their bytes, or
    // the open-failure message and the step's own CustomException.
    std::vector<unsigned char> ReadTestCertificateDER();
    std::vector<unsigned char> ReadTestCertificateBase64();
    std::vector<unsigned char> ReadTestP12File();

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
    std::vector<unsigned char> MakeContiguous(const char* const* strings, unsigned int count);
    void WriteToFile(unsigned char* data, unsigned long length);

    // Shared by the RSA and GOST key-pair tests: sign 32 test bytes with the private key,
    // verify with the public key, failures named after `operation`.
    void SignAndVerifyWithKeyPair(CK_MECHANISM_TYPE mechanism, const char* operation);
    // Prints the mismatch messages and returns false for them, true for CKR_OK; any other
    // result is raised under `operation`.
    static bool ReportVerification(CK_RV rv, const char* operation);
    // 32 bytes from the never-seeded C library generator, so runs repeat.
    static std::vector<unsigned char> MakeTestData();
    static void ThrowIfFailed(CK_RV rv, const char* operation);
    // The vendor entries, checked for presence before use.
    CK_C_KTL_LoadCert VendorLoadCert() const;
    CK_C_KTL_LoadX509Cert VendorLoadX509Cert() const;
    CK_C_KTL_CreateCSR VendorCreateCSR() const;
    CK_C_KTL_SignWithCert VendorSignWithCert() const;
    CK_C_KTL_VerifySignature VendorVerifySignature() const;

    uint8_t m_keyPairId;
    uint8_t m_secretKeyId;
    uint8_t m_certificateId;
    std::string m_p12FilePath;
    std::vector<unsigned char> m_p12Password;
    std::string m_base64CertificatePath;
    std::string m_derCertificatePath;

private:
    using Reader = bool (CBaseSignatureOperator::*)(const char*, std::vector<unsigned char>&);

    CK_OBJECT_HANDLE FindByClassAndId(CK_OBJECT_CLASS objectClass, uint8_t id);
    std::vector<unsigned char> ReadTestFile(Reader reader, const std::string& path, const char* missingMessage);
    void ImportX509Certificate(std::vector<unsigned char> certificate, const char* label, const char* operation);
};
