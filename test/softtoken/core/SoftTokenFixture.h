#pragma once
// Fixtures for the software token's tests: each test gets its own temporary store and talks
// to the module only through its function list, as any client would.
#include "TempDir.h"
#include "tokentest/VendorFunctionList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace softtoken_test {

using Bytes = std::vector<unsigned char>;

// The code's name (CKR_...), so failing assertions read as names.
std::string RvName(CK_RV rv);

#define EXPECT_RV(expected, call) EXPECT_EQ(::softtoken_test::RvName(expected), ::softtoken_test::RvName(call))
#define ASSERT_RV(expected, call) ASSERT_EQ(::softtoken_test::RvName(expected), ::softtoken_test::RvName(call))

extern const Bytes kDefaultPin;  // "52816037"

// Bytes from hex digits ("0b0c..."), and a text's bytes.
Bytes Hex(const std::string& text);
Bytes Text(const std::string& text);

// The built shared module, loaded with dlopen: a second, independent instance of the token
// for child processes. Null when it cannot be loaded.
CK_FUNCTION_LIST* LoadSharedModule();

// A fixed-size value of the Boolean and CK_ULONG kinds for templates.
struct Value {
    static CK_BBOOL True;
    static CK_BBOOL False;
};

class SoftTokenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string StorePath() const { return m_dir.Path() + "/store.db"; }
    const std::string& Dir() const { return m_dir.Path(); }
    void Reinitialize();  // C_Finalize then C_Initialize on the same store

    void InitToken(const Bytes& soPin = kDefaultPin);
    CK_SESSION_HANDLE Open(bool readWrite = true);
    CK_SESSION_HANDLE LoginUser();  // initialises the token, opens an R/W session, logs in
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin);

    CK_OBJECT_HANDLE CreateData(CK_SESSION_HANDLE session, bool token, bool isPrivate, const std::string& label);
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> query);
    std::vector<CK_OBJECT_HANDLE> FindAll(CK_SESSION_HANDLE session) { return Find(session, {}); }
    // Two-call read; fails the test unless both calls succeed.
    Bytes Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    CK_ULONG UlongAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);

    // The utility's RSA key pair templates, identifier 100; the public key is a session object.
    void GenerateRsa(CK_SESSION_HANDLE session, CK_ULONG bits, CK_OBJECT_HANDLE& publicKey,
                     CK_OBJECT_HANDLE& privateKey);
    // Sign with the length protocol (size query first); returns the code of the second call.
    CK_RV Sign(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
               Bytes& signature);
    CK_RV Verify(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                 const Bytes& signature);

    CK_FUNCTION_LIST* f = nullptr;
    CK_KTL_FUNCTION_LIST* vendor = nullptr;

private:
    TempDir m_dir{"softtoken-test-"};
};

}  // namespace softtoken_test
