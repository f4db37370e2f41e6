// Token objects' sealed attributes: opened when a call first needs them after a login, closed
// again at logout. What a client sees must not depend on whether an object was opened yet.
#include "SoftTokenFixture.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace softtoken_test {
namespace {

std::string Text(const Bytes& value) { return std::string(value.begin(), value.end()); }

CK_OBJECT_CLASS kData = CKO_DATA, kPrivateKey = CKO_PRIVATE_KEY, kPublicKey = CKO_PUBLIC_KEY,
                kSecretKey = CKO_SECRET_KEY;
char kAlpha[] = "alpha";
char kMissing[] = "no such label";
CK_BYTE kId = 100;
char kAlphaValue[] = "value of alpha";
Bytes kGostValue(32, 0x5A);

// Search templates over the objects of Populate(): clear attributes only, sealed ones only
// (for private objects every byte-valued attribute), and both.
struct Query {
    const char* name;
    std::vector<CK_ATTRIBUTE> attributes;
};

std::vector<Query> Queries() {
    return {
        {"everything", {}},
        {"data objects", {{CKA_CLASS, &kData, sizeof kData}}},
        {"private keys", {{CKA_CLASS, &kPrivateKey, sizeof kPrivateKey}}},
        {"public keys", {{CKA_CLASS, &kPublicKey, sizeof kPublicKey}}},
        {"private objects", {{CKA_PRIVATE, &Value::True, 1}}},
        {"public objects", {{CKA_PRIVATE, &Value::False, 1}}},
        {"label alpha", {{CKA_LABEL, kAlpha, 5}}},
        {"data labelled alpha", {{CKA_CLASS, &kData, sizeof kData}, {CKA_LABEL, kAlpha, 5}}},
        {"private alpha", {{CKA_LABEL, kAlpha, 5}, {CKA_PRIVATE, &Value::True, 1}}},
        {"value of alpha", {{CKA_VALUE, kAlphaValue, sizeof kAlphaValue - 1}}},
        {"identifier 100", {{CKA_ID, &kId, 1}}},
        {"private key 100", {{CKA_CLASS, &kPrivateKey, sizeof kPrivateKey}, {CKA_ID, &kId, 1}}},
        {"secret key by value", {{CKA_CLASS, &kSecretKey, sizeof kSecretKey}, {CKA_VALUE, kGostValue.data(), 32}}},
        {"label nobody has", {{CKA_LABEL, kMissing, sizeof kMissing - 1}}},
        {"private key with a data label", {{CKA_CLASS, &kPrivateKey, sizeof kPrivateKey}, {CKA_LABEL, kAlpha, 5}}},
    };
}

class SealedObjectsTest : public SoftTokenTest {
protected:
    // Token objects of every kind: private and public data objects with the same label, an
    // RSA key pair (identifier 100), a public GOST secret key whose value is sealed.
    void Populate(CK_SESSION_HANDLE session) {
        CreateData(session, true, true, "alpha");
        CreateData(session, true, true, "beta");
        CreateData(session, true, false, "alpha");
        CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_ULONG bits = 1024;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &Value::True, 1}, {CKA_MODULUS_BITS, &bits, sizeof bits},
                                         {CKA_ID, &kId, 1}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &Value::True, 1}, {CKA_ID, &kId, 1}};
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        ASSERT_RV(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 2,
                                               &publicKey, &privateKey));
        CK_KEY_TYPE gost = CKK_GOST28147;
        CK_ATTRIBUTE secret[] = {{CKA_CLASS, &kSecretKey, sizeof kSecretKey}, {CKA_KEY_TYPE, &gost, sizeof gost},
                                 {CKA_TOKEN, &Value::True, 1}, {CKA_PRIVATE, &Value::False, 1},
                                 {CKA_VALUE, kGostValue.data(), kGostValue.size()}};
        CK_OBJECT_HANDLE object = 0;
        ASSERT_RV(CKR_OK, f->C_CreateObject(session, secret, 5, &object));
    }

    std::map<std::string, std::vector<CK_OBJECT_HANDLE>> SearchAll(CK_SESSION_HANDLE session) {
        std::map<std::string, std::vector<CK_OBJECT_HANDLE>> results;
        for (const Query& query : Queries()) {
            std::vector<CK_OBJECT_HANDLE> found = Find(session, query.attributes);
            std::sort(found.begin(), found.end());
            results[query.name] = found;
        }
        return results;
    }

    void ExpectSame(const std::map<std::string, std::vector<CK_OBJECT_HANDLE>>& expected,
                    const std::map<std::string, std::vector<CK_OBJECT_HANDLE>>& actual) {
        for (const auto& [name, handles] : expected) {
            SCOPED_TRACE(name);
            EXPECT_EQ(handles, actual.at(name));
        }
    }
};

// The objects as made (all attributes at hand) are what every later login finds: after a
// logout, after a restart of the library (loaded from the store), and when a first search
// names sealed attributes before anything else opened them.
TEST_F(SealedObjectsTest, SearchesFindTheSameBeforeAndAfterTheObjectsAreClosed) {
    CK_SESSION_HANDLE session = LoginUser();
    Populate(session);
    const auto asMade = SearchAll(session);
    EXPECT_EQ(6u, asMade.at("everything").size());
    EXPECT_EQ(2u, asMade.at("label alpha").size());
    EXPECT_EQ(1u, asMade.at("private alpha").size());
    EXPECT_EQ(2u, asMade.at("value of alpha").size());
    EXPECT_EQ(2u, asMade.at("identifier 100").size());
    EXPECT_EQ(1u, asMade.at("secret key by value").size());
    EXPECT_TRUE(asMade.at("private key with a data label").empty());

    ASSERT_RV(CKR_OK, f->C_Logout(session));
    const auto loggedOut = SearchAll(session);
    // Without a login only public objects whose attributes are all in the clear are seen.
    EXPECT_EQ(2u, loggedOut.at("everything").size());
    EXPECT_TRUE(loggedOut.at("private objects").empty());
    EXPECT_TRUE(loggedOut.at("secret key by value").empty());

    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    ExpectSame(asMade, SearchAll(session));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    ExpectSame(loggedOut, SearchAll(session));

    Reinitialize();
    session = Open();
    ExpectSame(loggedOut, SearchAll(session));
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    // The search by sealed attributes first, on objects nothing has opened yet.
    std::vector<CK_OBJECT_HANDLE> alpha = Find(session, {{CKA_LABEL, kAlpha, 5}});
    std::sort(alpha.begin(), alpha.end());
    EXPECT_EQ(asMade.at("label alpha"), alpha);
    ExpectSame(asMade, SearchAll(session));
}

// Private objects' attributes read back after a new login and after a restart, with no
// search first; a private key signs (checked by the public key, a session object, while it
// lasts); and at logout everything opened is out of reach again.
TEST_F(SealedObjectsTest, AttributesAndKeysAreThereAfterTheNextLogin) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE data = CreateData(session, true, true, "sealed");
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    const Bytes modulus = Attribute(session, privateKey, CKA_MODULUS);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    const Bytes message = {'s', 'i', 'g', 'n', 'e', 'd'};

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "after a logout" : "after a restart");
        if (round == 0) {
            ASSERT_RV(CKR_OK, f->C_Logout(session));
        } else {
            Reinitialize();
            session = Open();
        }
        CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
        EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, f->C_GetAttributeValue(session, data, &label, 1));
        ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
        EXPECT_EQ("sealed", Text(Attribute(session, data, CKA_LABEL)));
        EXPECT_EQ("value of sealed", Text(Attribute(session, data, CKA_VALUE)));
        EXPECT_EQ(modulus, Attribute(session, privateKey, CKA_MODULUS));
        Bytes signature;
        ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, message, signature));
        if (round == 0) {
            EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, message, signature));
        }
    }
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, f->C_SignInit(session, &mechanism, privateKey));
    EXPECT_TRUE(FindAll(session).empty());
}

// Changes made while objects are opened are stored sealed and read back after a restart;
// a copy of an unopened object carries its sealed attributes.
TEST_F(SealedObjectsTest, ChangesAndCopiesKeepTheSealedAttributes) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE data = CreateData(session, true, true, "before");
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    char after[] = "after";
    CK_ATTRIBUTE label = {CKA_LABEL, after, 5};
    ASSERT_RV(CKR_OK, f->C_SetAttributeValue(session, data, &label, 1));
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    CK_OBJECT_HANDLE copy = 0;
    ASSERT_RV(CKR_OK, f->C_CopyObject(session, data, nullptr, 0, &copy));
    for (CK_OBJECT_HANDLE object : {data, copy}) {
        EXPECT_EQ("after", Text(Attribute(session, object, CKA_LABEL)));
        EXPECT_EQ("value of before", Text(Attribute(session, object, CKA_VALUE)));
    }
}

// A process that logs in to a token of many private objects finds each of them by its
// sealed label, and none once it logs out.
TEST_F(SealedObjectsTest, ManyPrivateObjectsAfterALogin) {
    constexpr int kCount = 300;
    CK_SESSION_HANDLE session = LoginUser();
    for (int i = 0; i < kCount; ++i) CreateData(session, true, true, "object " + std::to_string(i));
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    for (int i : {0, 137, kCount - 1}) {
        std::string label = "object " + std::to_string(i);
        const std::vector<CK_OBJECT_HANDLE> found = Find(session, {{CKA_LABEL, label.data(), label.size()}});
        ASSERT_EQ(1u, found.size());
        EXPECT_EQ("value of " + label, Text(Attribute(session, found[0], CKA_VALUE)));
    }
    EXPECT_EQ(size_t(kCount), Find(session, {{CKA_CLASS, &kData, sizeof kData}}).size());
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    EXPECT_TRUE(FindAll(session).empty());
}

}  // namespace
}  // namespace softtoken_test
