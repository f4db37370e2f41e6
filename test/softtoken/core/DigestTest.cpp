// SHA-1 and SHA-2 digests through the function list: the FIPS 180 examples in one piece and
// in uneven parts (the million 'a' in many updates), the length protocol, C_DigestKey, and
// the calls out of order.
#include "SoftTokenFixture.h"

#include <algorithm>
#include <string>

namespace softtoken_test {
namespace {

const std::string k448Bits = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kMillionA(1000000, 'a');

struct DigestCase {
    CK_MECHANISM_TYPE mechanism;
    const std::string& message;
    const char* digest;
};

const std::string kAbc = "abc";
const std::string kEmpty;

// FIPS 180 examples: "abc", the empty message, the 448-bit message, a million 'a'.
const DigestCase kDigestCases[] = {
    {CKM_SHA_1, kAbc, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {CKM_SHA_1, kEmpty, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {CKM_SHA_1, k448Bits, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {CKM_SHA_1, kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {CKM_SHA224, kAbc, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {CKM_SHA224, kEmpty, "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {CKM_SHA224, k448Bits, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {CKM_SHA224, kMillionA, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {CKM_SHA256, kAbc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {CKM_SHA256, kEmpty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {CKM_SHA256, k448Bits, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {CKM_SHA256, kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {CKM_SHA384, kAbc,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {CKM_SHA384, kEmpty,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {CKM_SHA384, k448Bits,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {CKM_SHA384, kMillionA,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {CKM_SHA512, kAbc,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {CKM_SHA512, kEmpty,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {CKM_SHA512, k448Bits,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {CKM_SHA512, kMillionA,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

const CK_MECHANISM_TYPE kMechanisms[] = {CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512};

class DigestTest : public SoftTokenTest {
protected:
    // C_Digest with the length protocol: a size query first.
    CK_RV Digest(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, const Bytes& data, Bytes& digest) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        CK_RV rv = f->C_DigestInit(session, &mechanism);
        Bytes input = data;
        CK_ULONG length = 0;
        if (rv == CKR_OK) rv = f->C_Digest(session, input.data(), input.size(), nullptr, &length);
        digest.assign(length, 0);
        if (rv == CKR_OK) rv = f->C_Digest(session, input.data(), input.size(), digest.data(), &length);
        digest.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    // Updates in pieces that grow from 1 byte by a prime step, so they cross block edges unevenly.
    CK_RV DigestInPieces(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, const Bytes& data, Bytes& digest) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        CK_RV rv = f->C_DigestInit(session, &mechanism);
        Bytes input = data;
        for (size_t at = 0, piece = 1; rv == CKR_OK && at < input.size(); at += piece, piece += 997)
            rv = f->C_DigestUpdate(session, input.data() + at, std::min(piece, input.size() - at));
        return Final(session, rv, digest);
    }

    CK_RV Final(CK_SESSION_HANDLE session, CK_RV rv, Bytes& digest) {
        CK_ULONG length = 0;
        if (rv == CKR_OK) rv = f->C_DigestFinal(session, nullptr, &length);
        digest.assign(length, 0);
        if (rv == CKR_OK) rv = f->C_DigestFinal(session, digest.data(), &length);
        digest.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    CK_OBJECT_HANDLE Secret(CK_SESSION_HANDLE session, const Bytes& value) {
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
        Bytes keyValue = value;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_SENSITIVE, &Value::True, 1},
                                     {CKA_VALUE, keyValue.data(), keyValue.size()}};
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, f->C_CreateObject(session, attributes, 4, &key));
        return key;
    }
};

TEST_F(DigestTest, KnownAnswersInOnePieceAndInPieces) {
    CK_SESSION_HANDLE session = Open(false);
    for (const DigestCase& test : kDigestCases) {
        SCOPED_TRACE(std::to_string(test.mechanism) + " over " + std::to_string(test.message.size()) + " bytes");
        const Bytes expected = Hex(test.digest), message = Text(test.message);
        Bytes digest;
        EXPECT_RV(CKR_OK, Digest(session, test.mechanism, message, digest));
        EXPECT_EQ(expected, digest);
        EXPECT_RV(CKR_OK, DigestInPieces(session, test.mechanism, message, digest));
        EXPECT_EQ(expected, digest);
    }
}

TEST_F(DigestTest, LengthProtocolKeepsTheOperationUntilTheDigestIsTaken) {
    CK_SESSION_HANDLE session = Open(false);
    CK_MECHANISM mechanism = {CKM_SHA384, nullptr, 0};
    Bytes data = Text("abc"), digest(47);
    const Bytes expected = Hex(kDigestCases[12].digest);  // SHA-384 of "abc"
    struct Step {
        bool severalCalls;
    };
    for (Step step : {Step{false}, Step{true}}) {
        SCOPED_TRACE(step.severalCalls ? "C_DigestFinal" : "C_Digest");
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        if (step.severalCalls) {
            ASSERT_RV(CKR_OK, f->C_DigestUpdate(session, data.data(), data.size()));
        }
        auto call = [&](CK_BYTE_PTR out, CK_ULONG_PTR length) {
            return step.severalCalls ? f->C_DigestFinal(session, out, length)
                                  : f->C_Digest(session, data.data(), data.size(), out, length);
        };
        CK_ULONG length = 0;
        EXPECT_RV(CKR_OK, call(nullptr, &length));
        EXPECT_EQ(48u, length);
        length = 47;
        EXPECT_RV(CKR_BUFFER_TOO_SMALL, call(digest.data(), &length));
        EXPECT_EQ(48u, length);
        digest.assign(64, 0);
        length = 64;
        ASSERT_RV(CKR_OK, call(digest.data(), &length));
        EXPECT_EQ(48u, length);
        digest.resize(length);
        EXPECT_EQ(expected, digest);
        EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, call(digest.data(), &length));
    }
}

TEST_F(DigestTest, DigestKeyFeedsTheKeysValueWhateverItsSensitivity) {
    CK_SESSION_HANDLE session = LoginUser();
    const Bytes value = Text("a generic secret of thirty bytes");
    const CK_OBJECT_HANDLE key = Secret(session, value);
    for (CK_MECHANISM_TYPE type : kMechanisms) {
        SCOPED_TRACE(type);
        Bytes direct, viaKey, mixed, expectedMixed;
        ASSERT_RV(CKR_OK, Digest(session, type, value, direct));
        CK_MECHANISM mechanism = {type, nullptr, 0};
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        EXPECT_RV(CKR_OK, Final(session, f->C_DigestKey(session, key), viaKey));
        EXPECT_EQ(direct, viaKey);

        Bytes prefix = Text("prefix:"), whole = prefix;
        whole.insert(whole.end(), value.begin(), value.end());
        whole.insert(whole.end(), prefix.begin(), prefix.end());
        ASSERT_RV(CKR_OK, Digest(session, type, whole, expectedMixed));
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        CK_RV rv = f->C_DigestUpdate(session, prefix.data(), prefix.size());
        if (rv == CKR_OK) rv = f->C_DigestKey(session, key);
        if (rv == CKR_OK) rv = f->C_DigestUpdate(session, prefix.data(), prefix.size());
        EXPECT_RV(CKR_OK, Final(session, rv, mixed));
        EXPECT_EQ(expectedMixed, mixed);
    }
}

TEST_F(DigestTest, ParametersCallsOutOfOrderAndKeysThatCannotBeDigested) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_MECHANISM mechanism = {CKM_SHA256, nullptr, 0};
    Bytes data = Text("abc"), digest(32);
    CK_ULONG length = 32;
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_DigestUpdate(session, data.data(), data.size()));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Digest(session, data.data(), data.size(), digest.data(), &length));
    CK_MECHANISM withParameter = {CKM_SHA512, &length, sizeof length}, hmac = {CKM_SHA256_HMAC, nullptr, 0};
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_DigestInit(session, &withParameter));
    EXPECT_RV(CKR_MECHANISM_INVALID, f->C_DigestInit(session, &hmac));
    ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
    EXPECT_RV(CKR_OPERATION_ACTIVE, f->C_DigestInit(session, &mechanism));
    // C_Digest cannot finish a multi-part digest.
    ASSERT_RV(CKR_OK, f->C_DigestUpdate(session, data.data(), data.size()));
    EXPECT_RV(CKR_OPERATION_ACTIVE, f->C_Digest(session, data.data(), data.size(), digest.data(), &length));

    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    const CK_OBJECT_HANDLE dataObject = CreateData(session, false, false, "not a key");
    struct Case {
        const char* name;
        CK_OBJECT_HANDLE object;
        CK_RV expected;
    };
    const Case cases[] = {
        {"RSA private key", privateKey, CKR_KEY_INDIGESTIBLE},
        {"RSA public key", publicKey, CKR_KEY_INDIGESTIBLE},
        {"data object", dataObject, CKR_KEY_INDIGESTIBLE},
        {"no object", 0x7fff, CKR_KEY_HANDLE_INVALID},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        EXPECT_RV(test.expected, f->C_DigestKey(session, test.object));
        // A refused key ends the digest.
        EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_DigestUpdate(session, data.data(), data.size()));
    }
}

}  // namespace
}  // namespace softtoken_test
