// The library as a whole: initialisation rules, the function list, slots, token and
// mechanism information, and argument checks in the standard's order.
#include "SoftTokenFixture.h"
#include "mechanisms/gost/GostConstants.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

namespace softtoken_test {
namespace {

std::string Field(const unsigned char* field, size_t size) { return std::string(field, field + size); }

TEST_F(SoftTokenTest, InitializeAndFinalizeFollowTheStandardRules) {
    EXPECT_RV(CKR_CRYPTOKI_ALREADY_INITIALIZED, f->C_Initialize(nullptr));
    int reserved = 0;
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_Finalize(&reserved));
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, f->C_Finalize(nullptr));
    CK_ULONG count = 0;
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, f->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, vendor->C_KTL_VerifySignature(nullptr, 0, nullptr, 0));

    CK_C_INITIALIZE_ARGS args{};
    args.pReserved = &reserved;
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_Initialize(&args));
    // Only the system's locking is offered: callbacks alone cannot be honoured.
    args = {};
    args.CreateMutex = [](CK_VOID_PTR_PTR) -> CK_RV { return CKR_OK; };
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_Initialize(&args));
    args.DestroyMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
    args.LockMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
    args.UnlockMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
    EXPECT_RV(CKR_CANT_LOCK, f->C_Initialize(&args));
    args.flags = CKF_OS_LOCKING_OK;
    EXPECT_RV(CKR_OK, f->C_Initialize(&args));
}

TEST_F(SoftTokenTest, FunctionListHasEveryStandardAndVendorEntry) {
    EXPECT_EQ(2, f->version.major);
    // Every pointer after the version, standard and vendor entries alike, is set.
    const size_t entries = (sizeof(CK_KTL_FUNCTION_LIST) - offsetof(CK_FUNCTION_LIST, C_Initialize)) / sizeof(void*);
    EXPECT_EQ(73u, entries);
    auto* pointers = reinterpret_cast<void**>(reinterpret_cast<char*>(vendor) + offsetof(CK_FUNCTION_LIST, C_Initialize));
    for (size_t i = 0; i < entries; ++i) EXPECT_NE(nullptr, pointers[i]) << "entry " << i;
    CK_FUNCTION_LIST* again = nullptr;
    EXPECT_RV(CKR_OK, f->C_GetFunctionList(&again));
    EXPECT_EQ(f, again);
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_GetFunctionList(nullptr));
}

std::string NameOf(const CK_INTERFACE& interface) { return reinterpret_cast<const char*>(interface.pInterfaceName); }

CK_UTF8CHAR* Utf8(const char* text) { return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(text)); }

TEST_F(SoftTokenTest, InterfaceListHasTheStandardListAndTheVendorEntries) {
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, C_GetInterfaceList(nullptr, &count));
    ASSERT_EQ(2u, count);
    CK_INTERFACE interfaces[3] = {};
    count = 1;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, C_GetInterfaceList(interfaces, &count));
    EXPECT_EQ(2u, count);
    count = 3;
    ASSERT_RV(CKR_OK, C_GetInterfaceList(interfaces, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ("PKCS 11", NameOf(interfaces[0]));
    EXPECT_EQ(f, interfaces[0].pFunctionList);
    EXPECT_EQ(2, f->version.major);
    EXPECT_EQ(40, f->version.minor);
    EXPECT_EQ(kKtlVendorInterfaceName, NameOf(interfaces[1]));
    const auto* published = static_cast<const CK_KTL_VENDOR_FUNCTION_LIST*>(interfaces[1].pFunctionList);
    EXPECT_EQ(1, published->version.major);
    EXPECT_EQ(0, published->version.minor);
    // The same five entries as after the standard list.
    EXPECT_EQ(vendor->C_KTL_LoadCert, published->C_KTL_LoadCert);
    EXPECT_EQ(vendor->C_KTL_LoadX509Cert, published->C_KTL_LoadX509Cert);
    EXPECT_EQ(vendor->C_KTL_CreateCSR, published->C_KTL_CreateCSR);
    EXPECT_EQ(vendor->C_KTL_SignWithCert, published->C_KTL_SignWithCert);
    EXPECT_EQ(vendor->C_KTL_VerifySignature, published->C_KTL_VerifySignature);
    EXPECT_RV(CKR_ARGUMENTS_BAD, C_GetInterfaceList(interfaces, nullptr));
}

TEST_F(SoftTokenTest, InterfaceIsFoundByNameVersionAndFlags) {
    struct Query {
        const char* name;
        std::optional<CK_VERSION> version;
        CK_FLAGS flags;
        const char* found;  // null: CKR_ARGUMENTS_BAD
    };
    const Query queries[] = {
        {nullptr, std::nullopt, 0, "PKCS 11"},
        {"PKCS 11", CK_VERSION{2, 40}, 0, "PKCS 11"},
        {kKtlVendorInterfaceName, std::nullopt, 0, kKtlVendorInterfaceName},
        {kKtlVendorInterfaceName, CK_VERSION{1, 0}, 0, kKtlVendorInterfaceName},
        {"PKCS 11", CK_VERSION{3, 0}, 0, nullptr},
        {"Vendor XYZ", std::nullopt, 0, nullptr},
        {"PKCS 11", std::nullopt, 1 /* fork safe */, nullptr},
    };
    for (const Query& q : queries) {
        CK_VERSION version = q.version.value_or(CK_VERSION{0, 0});
        CK_INTERFACE* found = nullptr;
        const CK_RV rv = C_GetInterface(q.name != nullptr ? Utf8(q.name) : nullptr, q.version ? &version : nullptr,
                                        &found, q.flags);
        const std::string label = q.name != nullptr ? q.name : "(no name)";
        if (q.found == nullptr) {
            EXPECT_RV(CKR_ARGUMENTS_BAD, rv) << label;
            EXPECT_EQ(nullptr, found) << label;
        } else {
            ASSERT_RV(CKR_OK, rv) << label;
            ASSERT_NE(nullptr, found) << label;
            EXPECT_EQ(q.found, NameOf(*found)) << label;
        }
    }
    EXPECT_RV(CKR_ARGUMENTS_BAD, C_GetInterface(nullptr, nullptr, nullptr, 0));
}

TEST_F(SoftTokenTest, OneSlotByDefaultWithItsDescription) {
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, f->C_GetSlotList(CK_TRUE, nullptr, &count));
    ASSERT_EQ(1u, count);
    CK_SLOT_ID slots[2] = {99, 99};
    count = 0;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, f->C_GetSlotList(CK_TRUE, slots, &count));
    EXPECT_EQ(1u, count);
    ASSERT_RV(CKR_OK, f->C_GetSlotList(CK_TRUE, slots, &count));
    EXPECT_EQ(0u, slots[0]);

    CK_SLOT_INFO info;
    ASSERT_RV(CKR_OK, f->C_GetSlotInfo(0, &info));
    std::string expected = "tokentest software slot 0";
    expected.resize(64, ' ');
    EXPECT_EQ(expected, Field(info.slotDescription, 64));
    EXPECT_TRUE(info.flags & CKF_TOKEN_PRESENT);
    EXPECT_RV(CKR_SLOT_ID_INVALID, f->C_GetSlotInfo(1, &info));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_GetSlotInfo(0, nullptr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_GetSlotList(CK_TRUE, nullptr, nullptr));
}

TEST_F(SoftTokenTest, SlotCountComesFromTheEnvironment) {
    for (CK_ULONG slots : {0ul, 3ul}) {
        ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
        setenv("SOFTTOKEN_SLOTS", std::to_string(slots).c_str(), 1);
        ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
        CK_ULONG count = 99;
        ASSERT_RV(CKR_OK, f->C_GetSlotList(CK_TRUE, nullptr, &count));
        EXPECT_EQ(slots, count);
    }
    CK_SLOT_INFO info;
    ASSERT_RV(CKR_OK, f->C_GetSlotInfo(2, &info));
    EXPECT_EQ("tokentest software slot 2 ", Field(info.slotDescription, 26));
}

TEST_F(SoftTokenTest, TokenInfoTellsTheTruth) {
    CK_TOKEN_INFO info;
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_FALSE(info.flags & CKF_TOKEN_INITIALIZED);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_INITIALIZED);
    EXPECT_TRUE(info.flags & CKF_RNG);
    EXPECT_TRUE(info.flags & CKF_LOGIN_REQUIRED);
    EXPECT_EQ("tokentest", Field(info.manufacturerID, 9));
    EXPECT_EQ("softtoken", Field(info.model, 9));

    InitToken();
    CK_SESSION_HANDLE session = Open();
    Open(false);
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
    EXPECT_EQ("KORVEL Token                    ", Field(info.label, 32));
    EXPECT_EQ(2u, info.ulSessionCount);
    EXPECT_EQ(1u, info.ulRwSessionCount);
    EXPECT_EQ(4u, info.ulMinPinLen);
    EXPECT_EQ(32u, info.ulMaxPinLen);

    EXPECT_RV(CKR_PIN_INCORRECT, Login(session, CKU_USER, {'0', '0', '0', '0'}));
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_USER_PIN_COUNT_LOW);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_LOCKED);
    EXPECT_RV(CKR_SLOT_ID_INVALID, f->C_GetTokenInfo(7, &info));
}

TEST_F(SoftTokenTest, MechanismsListExactlyWhatIsImplemented) {
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, f->C_GetMechanismList(0, nullptr, &count));
    std::vector<CK_MECHANISM_TYPE> types(count);
    ASSERT_RV(CKR_OK, f->C_GetMechanismList(0, types.data(), &count));
    struct Expected {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    };
    constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;
    constexpr CK_FLAGS kRsaSign = CKF_SIGN | CKF_VERIFY;
    const Expected expected[] = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 4096, CKF_GENERATE_KEY_PAIR},
        {CKM_RSA_PKCS, 1024, 4096, kRsaSign | kCipher},
        {CKM_RSA_X_509, 1024, 4096, kRsaSign | kCipher},
        {CKM_RSA_PKCS_OAEP, 1024, 4096, kCipher},
        {CKM_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_SHA1_RSA_PKCS, 1024, 4096, kRsaSign},
        {CKM_SHA224_RSA_PKCS, 1024, 4096, kRsaSign},
        {CKM_SHA256_RSA_PKCS, 1024, 4096, kRsaSign},
        {CKM_SHA384_RSA_PKCS, 1024, 4096, kRsaSign},
        {CKM_SHA512_RSA_PKCS, 1024, 4096, kRsaSign},
        {CKM_SHA1_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_SHA224_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_SHA256_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_SHA384_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_SHA512_RSA_PKCS_PSS, 1024, 4096, kRsaSign},
        {CKM_GOSTR3410_KEY_PAIR_GEN, 256, 256, CKF_GENERATE_KEY_PAIR},
        {CKM_GOSTR3410, 256, 256, CKF_SIGN | CKF_VERIFY},
        {CKM_GOSTR3410_WITH_GOSTR3411, 256, 256, CKF_SIGN | CKF_VERIFY},
        {CKM_GOST28147_KEY_GEN, 32, 32, CKF_GENERATE},
        {CKM_GOST28147_MAC, 32, 32, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA_1, 0, 0, CKF_DIGEST},
        {CKM_SHA224, 0, 0, CKF_DIGEST},
        {CKM_SHA256, 0, 0, CKF_DIGEST},
        {CKM_SHA384, 0, 0, CKF_DIGEST},
        {CKM_SHA512, 0, 0, CKF_DIGEST},
        {CKM_SHA_1_HMAC, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA_1_HMAC_GENERAL, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA224_HMAC, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA224_HMAC_GENERAL, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA256_HMAC, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA256_HMAC_GENERAL, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA384_HMAC, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA384_HMAC_GENERAL, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA512_HMAC, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_SHA512_HMAC_GENERAL, 1, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_GENERIC_SECRET_KEY_GEN, 8, 4096, CKF_GENERATE},
        // AES and DES: key sizes in bytes.
        {CKM_AES_KEY_GEN, 16, 32, CKF_GENERATE},
        {CKM_AES_ECB, 16, 32, kCipher},
        {CKM_AES_CBC, 16, 32, kCipher},
        {CKM_AES_CBC_PAD, 16, 32, kCipher},
        {CKM_AES_CTR, 16, 32, kCipher},
        {CKM_AES_GCM, 16, 32, kCipher},
        {CKM_AES_CMAC, 16, 32, CKF_SIGN | CKF_VERIFY},
        {CKM_AES_CMAC_GENERAL, 16, 32, CKF_SIGN | CKF_VERIFY},
        {CKM_AES_KEY_WRAP, 16, 32, kCipher},
        {CKM_AES_KEY_WRAP_PAD, 16, 32, kCipher},
        {CKM_DES_KEY_GEN, 8, 8, CKF_GENERATE},
        {CKM_DES_ECB, 8, 8, kCipher},
        {CKM_DES_CBC, 8, 8, kCipher},
        {CKM_DES_CBC_PAD, 8, 8, kCipher},
        {CKM_DES3_KEY_GEN, 24, 24, CKF_GENERATE},
        {CKM_DES3_ECB, 24, 24, kCipher},
        {CKM_DES3_CBC, 24, 24, kCipher},
        {CKM_DES3_CBC_PAD, 24, 24, kCipher},
        {CKM_DES3_CMAC, 24, 24, CKF_SIGN | CKF_VERIFY},
        {CKM_DES3_CMAC_GENERAL, 24, 24, CKF_SIGN | CKF_VERIFY},
        // GOST
        {softtoken::CKM_GOSTR3410_WITH_GOSTR3411_12_256, 256, 256, CKF_SIGN | CKF_VERIFY},
        {softtoken::CKM_GOSTR3410_512_KEY_PAIR_GEN, 512, 512, CKF_GENERATE_KEY_PAIR},
        {softtoken::CKM_GOSTR3410_512, 512, 512, CKF_SIGN | CKF_VERIFY},
        {softtoken::CKM_GOSTR3410_WITH_GOSTR3411_12_512, 512, 512, CKF_SIGN | CKF_VERIFY},
        {CKM_GOSTR3411, 0, 0, CKF_DIGEST},
        {softtoken::CKM_GOSTR3411_12_256, 0, 0, CKF_DIGEST},
        {softtoken::CKM_GOSTR3411_12_512, 0, 0, CKF_DIGEST},
        {CKM_GOST28147_ECB, 32, 32, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP},
        {CKM_GOST28147, 32, 32, CKF_ENCRYPT | CKF_DECRYPT},
        {softtoken::CKM_NIMB_GOST28147_CNT, 32, 32, CKF_ENCRYPT | CKF_DECRYPT},
        {CKM_EC_KEY_PAIR_GEN, 256, 521, CKF_GENERATE_KEY_PAIR | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA_SHA1, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA_SHA224, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA_SHA256, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA_SHA384, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA_SHA512, 256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDH1_DERIVE, 256, 521, CKF_DERIVE | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_EC_EDWARDS_KEY_PAIR_GEN, 255, 255, CKF_GENERATE_KEY_PAIR},
        {CKM_EDDSA, 255, 255, CKF_SIGN | CKF_VERIFY},
    };
    ASSERT_EQ(std::size(expected), count);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.type);
        CK_MECHANISM_INFO info;
        ASSERT_RV(CKR_OK, f->C_GetMechanismInfo(0, e.type, &info));
        EXPECT_EQ(e.min, info.ulMinKeySize);
        EXPECT_EQ(e.max, info.ulMaxKeySize);
        EXPECT_EQ(e.flags, info.flags);
    }
    CK_MECHANISM_INFO info;
    EXPECT_RV(CKR_MECHANISM_INVALID, f->C_GetMechanismInfo(0, CKM_MD5, &info));
    EXPECT_RV(CKR_SLOT_ID_INVALID, f->C_GetMechanismInfo(3, CKM_RSA_PKCS, &info));
}

// Null pointers come before unknown sessions, which come before missing operations.
TEST_F(SoftTokenTest, ArgumentsAreCheckedInTheStandardOrder) {
    const CK_SESSION_HANDLE unknown = 12345;
    CK_ULONG length = 0;
    CK_OBJECT_HANDLE handle = 0;
    CK_BYTE data[4] = {};
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_GetSessionInfo(unknown, nullptr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_FindObjects(unknown, nullptr, 1, &length));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_SignInit(unknown, nullptr, 1));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_Sign(unknown, data, 4, nullptr, nullptr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_CreateObject(unknown, nullptr, 1, &handle));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, f->C_Sign(unknown, data, 4, nullptr, &length));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, f->C_FindObjectsFinal(unknown));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, f->C_CloseSession(unknown));
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_EncryptInit(unknown, nullptr, 0));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, f->C_SignRecoverInit(unknown, nullptr, 0));

    CK_SESSION_HANDLE session = LoginUser();
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, data, 4, nullptr, &length));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Verify(session, data, 4, data, 4));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_FindObjects(session, &handle, 1, &length));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_FindObjectsFinal(session));
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, f->C_DestroyObject(session, 999));
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, f->C_SignInit(session, &mechanism, 999));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, f->C_EncryptInit(session, &mechanism, 0));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_SignRecoverInit(session, &mechanism, 0));
}

TEST_F(SoftTokenTest, RandomBytesDiffer) {
    CK_SESSION_HANDLE session = LoginUser();
    Bytes first(32), second(32);
    ASSERT_RV(CKR_OK, f->C_GenerateRandom(session, first.data(), first.size()));
    ASSERT_RV(CKR_OK, f->C_GenerateRandom(session, second.data(), second.size()));
    EXPECT_NE(first, second);
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_GenerateRandom(session, nullptr, 4));
    EXPECT_RV(CKR_OK, f->C_GenerateRandom(session, nullptr, 0));
}

TEST_F(SoftTokenTest, StoreDefaultsToTheUsersDataDirectory) {
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    unsetenv("SOFTTOKEN_STORE");
    const std::string dataHome = Dir() + "/data home";
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
    const std::string store = dataHome + "/tokentest/softtoken.db";
    ASSERT_TRUE(std::filesystem::exists(store));
    // Only the owner may read it.
    const auto others = std::filesystem::perms::group_all | std::filesystem::perms::others_all;
    EXPECT_EQ(std::filesystem::perms::none, std::filesystem::status(store).permissions() & others);
    unsetenv("XDG_DATA_HOME");
}

// One lock serialises the calls of several threads on their own sessions.
TEST_F(SoftTokenTest, ThreadsShareTheModule) {
    LoginUser();
    std::vector<std::thread> threads;
    std::vector<size_t> found(4);
    for (size_t t = 0; t < found.size(); ++t) {
        threads.emplace_back([this, t, &found] {
            CK_SESSION_HANDLE session = 0;
            if (f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) return;
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_BYTE id = static_cast<CK_BYTE>(t);
            for (int i = 0; i < 25; ++i) {
                CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_ID, &id, 1}};
                CK_OBJECT_HANDLE object = 0;
                f->C_CreateObject(session, attributes, 2, &object);
                CK_BYTE random[16];
                f->C_GenerateRandom(session, random, sizeof random);
            }
            CK_ATTRIBUTE query = {CKA_ID, &id, 1};
            CK_OBJECT_HANDLE handles[64];
            CK_ULONG count = 0;
            f->C_FindObjectsInit(session, &query, 1);
            f->C_FindObjects(session, handles, 64, &count);
            f->C_FindObjectsFinal(session);
            found[t] = count;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::vector<size_t>(4, 25), found);
}

}  // namespace
}  // namespace softtoken_test
