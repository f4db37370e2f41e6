// The store on disk: nothing secret in clear, and consistency after the process is killed
// at random moments.
#include "SoftTokenFixture.h"
#include "crypto/Rsa.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace softtoken_test {
namespace {

// Every file of the store (database, journal, WAL) as one byte string.
Bytes StoreFiles(const std::string& dir) {
    Bytes all;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST_F(SoftTokenTest, StoreHoldsNoSecretInClear) {
    CK_SESSION_HANDLE session = LoginUser();
    crypto::RsaKeyComponents rsa = crypto::Rsa::Generate(1024, {});
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY, secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE rsaType = CKK_RSA, gostType = CKK_GOST28147;
    CK_ATTRIBUTE rsaTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_KEY_TYPE, &rsaType, sizeof rsaType},
        {CKA_TOKEN, &Value::True, 1},
        {CKA_MODULUS, rsa.modulus.data(), rsa.modulus.size()},
        {CKA_PUBLIC_EXPONENT, rsa.publicExponent.data(), rsa.publicExponent.size()},
        {CKA_PRIVATE_EXPONENT, rsa.privateExponent.data(), rsa.privateExponent.size()},
        {CKA_PRIME_1, rsa.prime1.data(), rsa.prime1.size()},
        {CKA_PRIME_2, rsa.prime2.data(), rsa.prime2.size()},
        {CKA_EXPONENT_1, rsa.exponent1.data(), rsa.exponent1.size()},
        {CKA_EXPONENT_2, rsa.exponent2.data(), rsa.exponent2.size()},
        {CKA_COEFFICIENT, rsa.coefficient.data(), rsa.coefficient.size()},
    };
    CK_OBJECT_HANDLE rsaKey = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, rsaTemplate, std::size(rsaTemplate), &rsaKey));
    // A secret key that is not private still keeps its value sealed.
    Bytes secretValue(32);
    for (size_t i = 0; i < secretValue.size(); ++i) secretValue[i] = static_cast<unsigned char>(0xC0 + i);
    CK_ATTRIBUTE secretTemplate[] = {
        {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &gostType, sizeof gostType},
        {CKA_TOKEN, &Value::True, 1}, {CKA_PRIVATE, &Value::False, 1},
        {CKA_VALUE, secretValue.data(), secretValue.size()},
    };
    CK_OBJECT_HANDLE secretKey = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, secretTemplate, std::size(secretTemplate), &secretKey));
    CreateData(session, true, true, "confidential label 4711");
    CreateData(session, true, false, "public label 0815");

    // The imported key works, so what was stored is the real key.
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, {CKM_RSA_PKCS, nullptr, 0}, rsaKey, Bytes(20, 3), signature));
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));

    const Bytes store = StoreFiles(Dir());
    EXPECT_TRUE(Contains(store, Text("public label 0815")));  // the search itself works
    EXPECT_FALSE(Contains(store, Text("confidential label 4711")));
    EXPECT_FALSE(Contains(store, Text("value of confidential")));
    for (const Bytes* secret : {&rsa.privateExponent, &rsa.prime1, &rsa.prime2, &rsa.exponent1, &rsa.exponent2,
                                &rsa.coefficient, &secretValue})
        EXPECT_FALSE(Contains(store, Bytes(secret->begin(), secret->begin() + 16)));
    EXPECT_FALSE(Contains(store, kDefaultPin));
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
}

// Creates and destroys objects until killed; one byte on progress for each object made.
[[noreturn]] void BusyChild(int progress) {
    CK_FUNCTION_LIST* list = LoadSharedModule();
    if (list == nullptr || list->C_Initialize(nullptr) != CKR_OK) _exit(3);
    CK_SESSION_HANDLE session = 0;
    Bytes pin = kDefaultPin;
    if (list->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK ||
        list->C_Login(session, CKU_USER, pin.data(), pin.size()) != CKR_OK)
        _exit(4);
    for (unsigned i = 0;; ++i) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        std::string label = "crash " + std::to_string(getpid()) + "/" + std::to_string(i);
        std::string value = "value of " + label;
        CK_BBOOL isPrivate = (i % 2) ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &Value::True, 1},
                                     {CKA_PRIVATE, &isPrivate, 1}, {CKA_LABEL, label.data(), label.size()},
                                     {CKA_VALUE, value.data(), value.size()}};
        CK_OBJECT_HANDLE object = 0;
        if (list->C_CreateObject(session, attributes, 5, &object) != CKR_OK) _exit(5);
        const char made = 1;
        if (write(progress, &made, 1) != 1) _exit(7);
        if (i % 3 == 2 && list->C_DestroyObject(session, object) != CKR_OK) _exit(6);
    }
}

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

TEST_F(SoftTokenTest, KilledWritersLeaveAConsistentStore) {
    InitToken();
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    std::mt19937 random(20261208);
    size_t lastCount = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        int progress[2];
        ASSERT_EQ(0, pipe(progress));
        const pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            close(progress[0]);
            BusyChild(progress[1]);
        }
        close(progress[1]);
        // Killed only once it has made objects, after a random number of further ones: the
        // kill falls anywhere in a create or a destroy, however slow the machine.
        const unsigned made = 1 + random() % 40;
        bool reported = true;
        char byte = 0;
        for (unsigned i = 0; i < made && reported; ++i) reported = read(progress[0], &byte, 1) == 1;
        ASSERT_EQ(0, kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        close(progress[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself with " << WEXITSTATUS(status);
        ASSERT_TRUE(reported) << "the child ended before making " << made << " objects";
        ASSERT_EQ("ok", IntegrityCheck(StorePath()));

        // Every object is whole: its value matches its label.
        ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
        CK_SESSION_HANDLE session = Open();
        ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
        const std::vector<CK_OBJECT_HANDLE> all = FindAll(session);
        for (CK_OBJECT_HANDLE object : all) {
            const Bytes label = Attribute(session, object, CKA_LABEL);
            Bytes expected = Text("value of ");
            expected.insert(expected.end(), label.begin(), label.end());
            ASSERT_EQ(expected, Attribute(session, object, CKA_VALUE));
        }
        EXPECT_GE(all.size(), lastCount);
        lastCount = all.size();
        ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    }
    EXPECT_GT(lastCount, 0u);
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
}

// A store written before the token generation was kept opens, and its token keeps working.
TEST_F(SoftTokenTest, StoreWithoutGenerationColumnStillOpens) {
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    std::filesystem::remove(StorePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(StorePath().c_str(), &db));
    const char* oldSchema =
        "CREATE TABLE tokens (slot INTEGER PRIMARY KEY, initialized INTEGER NOT NULL, label BLOB, serial TEXT,"
        " iterations INTEGER, so_salt BLOB, so_verifier BLOB, so_key BLOB, user_salt BLOB, user_verifier BLOB,"
        " user_key BLOB, so_failures INTEGER NOT NULL DEFAULT 0, user_failures INTEGER NOT NULL DEFAULT 0);"
        "CREATE TABLE objects (id INTEGER PRIMARY KEY AUTOINCREMENT, slot INTEGER NOT NULL, clear BLOB NOT NULL,"
        " sealed BLOB NOT NULL);"
        "INSERT INTO tokens (slot, initialized) VALUES (0, 0);";
    const int rc = sqlite3_exec(db, oldSchema, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc);
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
    CK_SESSION_HANDLE session = LoginUser();
    CreateData(session, true, false, "kept");
    Reinitialize();
    session = Open();
    EXPECT_EQ(1u, FindAll(session).size());
}

}  // namespace
}  // namespace softtoken_test
