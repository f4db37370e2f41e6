// Objects: creation and template checks, visibility, attribute reading and changing,
// searches, session objects and persistence.
#include "SoftTokenFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

namespace softtoken_test {
namespace {

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct TemplateCase {
    const char* name;
    CK_RV expected;
    std::vector<CK_ATTRIBUTE> extra;  // added to a data object template of class and token
};

TEST_F(SoftTokenTest, TemplatesAreValidated) {
    CK_SESSION_HANDLE session = LoginUser();
    static CK_ULONG shortClass = CKO_DATA;
    static CK_BYTE oneByte = 1;
    static CK_ULONG certificateClass = CKO_CERTIFICATE;
    static CK_ULONG secretClass = CKO_SECRET_KEY;
    static CK_ULONG gostType = CKK_GOST28147;
    static CK_ULONG unknownClass = 0x7777;
    static CK_BYTE garbage[] = {1, 2, 3};
    static CK_BYTE shortKey[16] = {};
    static CK_ULONG bits = 1024;
    const TemplateCase cases[] = {
        {"plain data object", CKR_OK, {}},
        {"class of 4 bytes", CKR_ATTRIBUTE_VALUE_INVALID, {{CKA_CLASS, &shortClass, 4}}},
        {"Boolean of 8 bytes", CKR_ATTRIBUTE_VALUE_INVALID, {{CKA_PRIVATE, &bits, sizeof bits}}},
        {"unknown attribute type", CKR_ATTRIBUTE_TYPE_INVALID, {{0x80001234, &oneByte, 1}}},
        {"attribute of another class", CKR_ATTRIBUTE_TYPE_INVALID, {{CKA_MODULUS_BITS, &bits, sizeof bits}}},
        {"token-set attribute", CKR_ATTRIBUTE_TYPE_INVALID, {{CKA_LOCAL, &Value::True, 1}}},
        {"contradicting repeats", CKR_TEMPLATE_INCONSISTENT,
         {{CKA_PRIVATE, &Value::True, 1}, {CKA_PRIVATE, &Value::False, 1}}},
        {"null value with a length", CKR_ARGUMENTS_BAD, {{CKA_LABEL, nullptr, 5}}},
        {"unknown class", CKR_ATTRIBUTE_VALUE_INVALID, {{CKA_CLASS, &unknownClass, sizeof unknownClass}}},
        {"certificate without type and value", CKR_TEMPLATE_INCOMPLETE,
         {{CKA_CLASS, &certificateClass, sizeof certificateClass}}},
        {"secret key without key type", CKR_TEMPLATE_INCOMPLETE, {{CKA_CLASS, &secretClass, sizeof secretClass}}},
        {"GOST key with a 16-byte value", CKR_ATTRIBUTE_VALUE_INVALID,
         {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &gostType, sizeof gostType},
          {CKA_VALUE, shortKey, sizeof shortKey}}},
        {"GOST key with a foreign parameter set", CKR_ATTRIBUTE_VALUE_INVALID,
         {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &gostType, sizeof gostType},
          {CKA_VALUE, shortKey, sizeof shortKey}, {CKA_GOST28147_PARAMS, garbage, 3}}},
    };
    for (const TemplateCase& c : cases) {
        SCOPED_TRACE(c.name);
        CK_ULONG dataClass = CKO_DATA;
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &dataClass, sizeof dataClass}};
        for (const CK_ATTRIBUTE& a : c.extra) {
            if (a.type == CKA_CLASS) attributes[0] = a;
            else attributes.push_back(a);
        }
        CK_OBJECT_HANDLE object = 0;
        EXPECT_RV(c.expected, f->C_CreateObject(session, attributes.data(), attributes.size(), &object));
    }
    // Nothing but the one valid object was created.
    EXPECT_EQ(1u, FindAll(session).size());
}

// Random templates of known and unknown types with any lengths: a code every time, and
// whatever was created reads back whole (the sanitizer build watches every byte).
TEST_F(SoftTokenTest, RandomTemplatesNeverBreakTheModule) {
    CK_SESSION_HANDLE session = LoginUser();
    std::mt19937 random(4711);
    const CK_ATTRIBUTE_TYPE types[] = {CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID, CKA_VALUE,
                                       CKA_CERTIFICATE_TYPE, CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                       CKA_GOSTR3410_PARAMS, CKA_GOST28147_PARAMS, CKA_SENSITIVE, CKA_EXTRACTABLE,
                                       CKA_MODULUS_BITS, CKA_VALUE_LEN, CKA_START_DATE, 0x80000001, CKA_SIGN};
    size_t created = 0;
    for (int round = 0; round < 1500; ++round) {
        std::vector<Bytes> values;
        std::vector<CK_ATTRIBUTE> attributes;
        const size_t count = random() % 6;
        for (size_t i = 0; i < count; ++i) {
            Bytes value(random() % 3 == 0 ? sizeof(CK_ULONG) : random() % 40);
            for (unsigned char& byte : value) byte = static_cast<unsigned char>(random() % 5);
            values.push_back(std::move(value));
        }
        for (size_t i = 0; i < count; ++i)
            attributes.push_back({types[random() % std::size(types)], values[i].empty() ? nullptr : values[i].data(),
                                  values[i].size()});
        // Mostly a real class and key type first, so that many templates get far.
        CK_ULONG objectClass = random() % 5;
        const CK_KEY_TYPE keyTypes[] = {CKK_RSA, CKK_GOSTR3410, CKK_GOST28147, CKK_GENERIC_SECRET};
        CK_ULONG keyType = keyTypes[random() % std::size(keyTypes)];
        if (random() % 4 != 0) {
            if (objectClass >= CKO_PUBLIC_KEY) attributes.insert(attributes.begin(), {CKA_KEY_TYPE, &keyType, sizeof keyType});
            attributes.insert(attributes.begin(), {CKA_CLASS, &objectClass, sizeof objectClass});
        }
        CK_OBJECT_HANDLE object = 0;
        if (f->C_CreateObject(session, attributes.data(), attributes.size(), &object) != CKR_OK) continue;
        ++created;
        for (CK_ATTRIBUTE_TYPE type : types) {
            CK_ATTRIBUTE attribute = {type, nullptr, 0};
            if (f->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK) continue;
            Bytes value(attribute.ulValueLen);
            attribute.pValue = value.data();
            EXPECT_RV(CKR_OK, f->C_GetAttributeValue(session, object, &attribute, 1));
        }
        EXPECT_RV(CKR_OK, f->C_DestroyObject(session, object));
    }
    EXPECT_GT(created, 0u);
    EXPECT_TRUE(FindAll(session).empty());
}

TEST_F(SoftTokenTest, DefaultsGiveEveryObjectLabelAndIdentifier) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_ULONG dataClass = CKO_DATA;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}};
    CK_OBJECT_HANDLE object = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, attributes, 1, &object));
    EXPECT_TRUE(Attribute(session, object, CKA_LABEL).empty());
    EXPECT_TRUE(Attribute(session, object, CKA_ID).empty());
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, object, CKA_TOKEN));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, object, CKA_MODIFIABLE));
}

TEST_F(SoftTokenTest, AttributeLengthProtocol) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE object = CreateData(session, true, false, "twelve bytes");
    CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_GetAttributeValue(session, object, &label, 1));
    EXPECT_EQ(12u, label.ulValueLen);
    char small[4] = {'x', 'x', 'x', 'x'};
    label = {CKA_LABEL, small, sizeof small};
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, f->C_GetAttributeValue(session, object, &label, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, label.ulValueLen);
    EXPECT_EQ('x', small[0]);

    // Every entry is answered even when one fails.
    char buffer[32] = {};
    CK_ULONG objectClass = 99;
    CK_ATTRIBUTE several[] = {{CKA_MODULUS, nullptr, 0}, {CKA_LABEL, buffer, sizeof buffer},
                              {CKA_CLASS, &objectClass, sizeof objectClass}};
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID, f->C_GetAttributeValue(session, object, several, 3));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, several[0].ulValueLen);
    EXPECT_EQ(12u, several[1].ulValueLen);
    EXPECT_EQ("twelve bytes", std::string(buffer));
    EXPECT_EQ(CKO_DATA, objectClass);
}

TEST_F(SoftTokenTest, SetAttributeValueChangesLabelAndIdOnly) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE object = CreateData(session, true, true, "before");
    char label[] = "after";
    CK_BYTE id[] = {0x3B};
    CK_ATTRIBUTE changes[] = {{CKA_LABEL, label, 5}, {CKA_ID, id, 1}};
    ASSERT_RV(CKR_OK, f->C_SetAttributeValue(session, object, changes, 2));
    CK_ULONG otherClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE classChange = {CKA_CLASS, &otherClass, sizeof otherClass};
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_SetAttributeValue(session, object, &classChange, 1));
    CK_ATTRIBUTE tokenChange = {CKA_TOKEN, &Value::False, 1};
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_SetAttributeValue(session, object, &tokenChange, 1));
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    EXPECT_EQ("after", Text(Attribute(session, object, CKA_LABEL)));
    EXPECT_EQ(Bytes{0x3B}, Attribute(session, object, CKA_ID));
    CK_ATTRIBUTE readOnlySession = {CKA_LABEL, label, 5};
    EXPECT_RV(CKR_SESSION_READ_ONLY, f->C_SetAttributeValue(Open(false), object, &readOnlySession, 1));
}

TEST_F(SoftTokenTest, PrivateObjectsNeedTheUser) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicObject = CreateData(session, true, false, "public");
    CK_OBJECT_HANDLE privateObject = CreateData(session, true, true, "private");
    ASSERT_EQ(2u, FindAll(session).size());
    ASSERT_RV(CKR_OK, f->C_Logout(session));

    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{publicObject}, FindAll(session));
    CK_ATTRIBUTE label = {CKA_LABEL, nullptr, 0};
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, f->C_GetAttributeValue(session, privateObject, &label, 1));
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, f->C_DestroyObject(session, privateObject));

    // The security officer sees and makes public objects only.
    ASSERT_RV(CKR_OK, Login(session, CKU_SO, kDefaultPin));
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{publicObject}, FindAll(session));
    CK_ULONG dataClass = CKO_DATA;
    CK_ATTRIBUTE privateTemplate[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_PRIVATE, &Value::True, 1}};
    CK_OBJECT_HANDLE object = 0;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, f->C_CreateObject(session, privateTemplate, 2, &object));
    CreateData(session, true, false, "made by the SO");
}

TEST_F(SoftTokenTest, TokenObjectsNeedAReadWriteSession) {
    CK_SESSION_HANDLE rw = LoginUser();
    CK_SESSION_HANDLE ro = Open(false);
    CK_ULONG dataClass = CKO_DATA;
    CK_ATTRIBUTE tokenTemplate[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &Value::True, 1}};
    CK_OBJECT_HANDLE object = 0;
    EXPECT_RV(CKR_SESSION_READ_ONLY, f->C_CreateObject(ro, tokenTemplate, 2, &object));
    CK_OBJECT_HANDLE tokenObject = CreateData(rw, true, false, "token");
    EXPECT_RV(CKR_SESSION_READ_ONLY, f->C_DestroyObject(ro, tokenObject));
    CK_OBJECT_HANDLE sessionObject = CreateData(ro, false, false, "session object in a R/O session");
    EXPECT_RV(CKR_OK, f->C_DestroyObject(ro, sessionObject));
}

TEST_F(SoftTokenTest, SessionObjectsEndWithTheirSession) {
    CK_SESSION_HANDLE first = LoginUser();
    CK_SESSION_HANDLE second = Open();
    CK_OBJECT_HANDLE ofFirst = CreateData(first, false, false, "first");
    CK_OBJECT_HANDLE ofSecond = CreateData(second, false, true, "second");
    CK_OBJECT_HANDLE tokenObject = CreateData(second, true, false, "token");
    EXPECT_EQ(3u, FindAll(first).size());
    ASSERT_RV(CKR_OK, f->C_CloseSession(second));
    EXPECT_EQ((std::vector<CK_OBJECT_HANDLE>{tokenObject, ofFirst}), FindAll(first));
    EXPECT_NE(ofFirst, ofSecond);
    ASSERT_RV(CKR_OK, f->C_CloseAllSessions(0));
    Reinitialize();
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{tokenObject}, FindAll(Open()));
}

TEST_F(SoftTokenTest, SearchIsASnapshotAndOneAtATime) {
    CK_SESSION_HANDLE session = LoginUser();
    for (int i = 0; i < 5; ++i) CreateData(session, true, false, "object " + std::to_string(i));
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE query = {CKA_CLASS, &dataClass, sizeof dataClass};
    ASSERT_RV(CKR_OK, f->C_FindObjectsInit(session, &query, 1));
    EXPECT_RV(CKR_OPERATION_ACTIVE, f->C_FindObjectsInit(session, &query, 1));
    // Objects made after the search began are not part of it.
    CreateData(session, true, false, "late");
    CK_OBJECT_HANDLE handles[10];
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, f->C_FindObjects(session, handles, 2, &count));
    EXPECT_EQ(2u, count);
    ASSERT_RV(CKR_OK, f->C_FindObjects(session, handles, 10, &count));
    EXPECT_EQ(3u, count);
    ASSERT_RV(CKR_OK, f->C_FindObjects(session, handles, 10, &count));
    EXPECT_EQ(0u, count);
    ASSERT_RV(CKR_OK, f->C_FindObjectsFinal(session));

    char label[] = "object 3";
    CK_ATTRIBUTE byLabel[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_LABEL, label, 8}};
    EXPECT_EQ(1u, Find(session, {byLabel[0], byLabel[1]}).size());
    CK_ULONG certificateClass = CKO_CERTIFICATE;
    EXPECT_TRUE(Find(session, {{CKA_CLASS, &certificateClass, sizeof certificateClass}}).empty());
    EXPECT_EQ(6u, FindAll(session).size());
}

TEST_F(SoftTokenTest, CopiesTakeTheTemplatesChanges) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE original = CreateData(session, true, true, "original");
    char label[] = "copy";
    CK_ATTRIBUTE changes[] = {{CKA_TOKEN, &Value::False, 1}, {CKA_LABEL, label, 4}, {CKA_MODIFIABLE, &Value::False, 1}};
    CK_OBJECT_HANDLE copy = 0;
    ASSERT_RV(CKR_OK, f->C_CopyObject(session, original, changes, 3, &copy));
    EXPECT_NE(original, copy);
    EXPECT_EQ("copy", Text(Attribute(session, copy, CKA_LABEL)));
    EXPECT_EQ("value of original", Text(Attribute(session, copy, CKA_VALUE)));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, copy, CKA_TOKEN));
    EXPECT_EQ("original", Text(Attribute(session, original, CKA_LABEL)));
    // A copy that may not be modified stays so, and its own copies cannot undo it.
    CK_ATTRIBUTE relabel = {CKA_LABEL, label, 4};
    EXPECT_RV(CKR_ACTION_PROHIBITED, f->C_SetAttributeValue(session, copy, &relabel, 1));
    CK_ATTRIBUTE modifiable = {CKA_MODIFIABLE, &Value::True, 1};
    CK_OBJECT_HANDLE second = 0;
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_CopyObject(session, copy, &modifiable, 1, &second));
    CK_ATTRIBUTE noCopies = {CKA_COPYABLE, &Value::False, 1};
    ASSERT_RV(CKR_OK, f->C_CopyObject(session, original, &noCopies, 1, &second));
    EXPECT_RV(CKR_ACTION_PROHIBITED, f->C_CopyObject(session, second, nullptr, 0, &copy));
    EXPECT_RV(CKR_SESSION_READ_ONLY, f->C_CopyObject(Open(false), original, nullptr, 0, &copy));
}

TEST_F(SoftTokenTest, DestroyedObjectsAreGoneForGood) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE object = CreateData(session, true, true, "short-lived");
    ASSERT_RV(CKR_OK, f->C_DestroyObject(session, object));
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, f->C_DestroyObject(session, object));
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    EXPECT_TRUE(FindAll(session).empty());
}

TEST_F(SoftTokenTest, PrivateObjectsPersistAcrossFinalize) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE object = CreateData(session, true, true, "kept");
    Reinitialize();
    session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    EXPECT_EQ("kept", Text(Attribute(session, object, CKA_LABEL)));
    EXPECT_EQ("value of kept", Text(Attribute(session, object, CKA_VALUE)));
    CK_ULONG size = 0;
    EXPECT_RV(CKR_OK, f->C_GetObjectSize(session, object, &size));
    EXPECT_GT(size, 0u);
}

// Another process on the same store sees committed objects, and this one sees its changes.
TEST_F(SoftTokenTest, TwoProcessesShareTheStore) {
    CK_SESSION_HANDLE session = LoginUser();
    CreateData(session, true, false, "from the parent");
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // The built module, loaded afresh: the child never touches the parent's copy of the state.
        CK_FUNCTION_LIST* list = LoadSharedModule();
        if (list == nullptr) _exit(8);
        int status = list->C_Initialize(nullptr) == CKR_OK ? 0 : 1;
        CK_SESSION_HANDLE childSession = 0;
        status |= list->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &childSession);
        CK_ULONG count = 0;
        CK_OBJECT_HANDLE found[4];
        list->C_FindObjectsInit(childSession, nullptr, 0);
        list->C_FindObjects(childSession, found, 4, &count);
        list->C_FindObjectsFinal(childSession);
        status |= count == 1 ? 0 : 2;
        CK_ULONG dataClass = CKO_DATA;
        char label[] = "from the child";
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &Value::True, 1},
                                     {CKA_LABEL, label, sizeof label - 1}};
        CK_OBJECT_HANDLE object = 0;
        status |= list->C_CreateObject(childSession, attributes, 3, &object) == CKR_OK ? 0 : 4;
        list->C_Finalize(nullptr);
        _exit(status);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    const std::vector<CK_OBJECT_HANDLE> all = FindAll(session);
    ASSERT_EQ(2u, all.size());
    EXPECT_EQ("from the child", Text(Attribute(session, all[1], CKA_LABEL)));
}

}  // namespace
}  // namespace softtoken_test
