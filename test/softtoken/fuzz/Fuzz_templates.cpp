// Attribute templates made from the input, given through the function list to every entry
// that takes one: C_CreateObject, C_CopyObject, C_SetAttributeValue, C_FindObjectsInit,
// C_GenerateKeyPair and C_GetAttributeValue. Values may be empty, null with or without a
// length, of odd sizes, or well-known constants. Each input runs in a session of its own on
// copies of a few base objects; the token objects it makes are destroyed afterwards.
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const CK_ATTRIBUTE_TYPE kTypes[] = {
    CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_COPYABLE, CKA_DESTROYABLE, CKA_LABEL,
    CKA_ID, CKA_VALUE, CKA_APPLICATION, CKA_OBJECT_ID, CKA_CERTIFICATE_TYPE, CKA_CERTIFICATE_CATEGORY,
    CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_START_DATE, CKA_END_DATE, CKA_TRUSTED, CKA_SENSITIVE,
    CKA_EXTRACTABLE, CKA_SIGN, CKA_VERIFY, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP, CKA_DERIVE, CKA_LOCAL,
    CKA_KEY_GEN_MECHANISM, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_MODULUS, CKA_MODULUS_BITS,
    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_COEFFICIENT, CKA_VALUE_LEN, CKA_GOSTR3410_PARAMS,
    CKA_GOSTR3411_PARAMS, CKA_GOST28147_PARAMS, CKA_PUBLIC_KEY_INFO, CKA_VENDOR_DEFINED | 1};
const CK_ULONG kNumbers[] = {CKO_DATA,         CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY, CKO_SECRET_KEY,
                             CKK_RSA,          CKK_GOSTR3410,   CKK_GOST28147,  CKK_GENERIC_SECRET, CKC_X_509,
                             0,                1024,            2048,           32,              CK_UNAVAILABLE_INFORMATION};
// DER of the GOST parameter sets the token knows, an RSA exponent, a GOST 28147-89 key.
const Bytes kKnownValues[] = {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01},
                              {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01},
                              {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01},
                              {0x01, 0x00, 0x01},
                              Bytes(32, 0x5A)};
constexpr size_t kMaxAttributes = 8;
constexpr size_t kMaxOperations = 8;
constexpr size_t kMaxLeftovers = 64;  // undestroyable token objects before the token is wiped

// The input, read front to back; zeros once it is used up.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    Bytes Take(size_t count) {
        count = std::min(count, m_size - m_pos);
        Bytes taken(m_data + m_pos, m_data + m_pos + count);
        m_pos += count;
        return taken;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A template and the values its entries point at.
struct Template {
    std::vector<Bytes> values;
    std::vector<CK_ATTRIBUTE> attributes;
    CK_ATTRIBUTE_PTR Data() { return attributes.empty() ? nullptr : attributes.data(); }
    CK_ULONG Count() const { return attributes.size(); }
};

Template MakeTemplate(Input& input) {
    Template made;
    const size_t count = input.Byte() % (kMaxAttributes + 1);
    made.values.reserve(count);  // the attributes point into these
    for (size_t i = 0; i < count; ++i) {
        const uint8_t pick = input.Byte();
        CK_ATTRIBUTE_TYPE type = pick < std::size(kTypes) ? kTypes[pick] : CK_ATTRIBUTE_TYPE(0);
        if (pick >= std::size(kTypes))
            for (int b = 0; b < 4; ++b) type = type << 8 | input.Byte();
        Bytes value;
        CK_ULONG length = 0;
        bool null = false;
        switch (input.Byte() % 7) {
        case 0:  // null, length 0
            null = true;
            break;
        case 1:  // null with a length
            null = true;
            length = 1 + input.Byte();
            break;
        case 2:  // empty, not null
            value.resize(1);
            break;
        case 3: {
            const uint8_t which = input.Byte();
            CK_ULONG number = which < std::size(kNumbers) ? kNumbers[which] : which;
            value.resize(sizeof number);
            std::copy_n(reinterpret_cast<unsigned char*>(&number), sizeof number, value.begin());
            length = sizeof number;
            break;
        }
        case 4:
            value = input.Take(1);
            length = value.size();
            break;
        case 5:
            value = input.Take(input.Byte() % 80);
            length = value.size();
            break;
        default:
            value = kKnownValues[input.Byte() % std::size(kKnownValues)];
            length = value.size();
            break;
        }
        if (value.empty()) value.resize(1);  // a real pointer even for length 0
        made.values.push_back(std::move(value));
        made.attributes.push_back({type, null ? nullptr : made.values.back().data(), length});
    }
    return made;
}

// RSA keys larger than 1024 bits would cost the fuzzer most of its time.
void LimitModulusBits(Template& keyTemplate) {
    for (CK_ATTRIBUTE& attribute : keyTemplate.attributes) {
        if (attribute.type != CKA_MODULUS_BITS || attribute.pValue == nullptr || attribute.ulValueLen != sizeof(CK_ULONG))
            continue;
        auto* bits = static_cast<CK_ULONG*>(attribute.pValue);
        if (*bits > 1024 && *bits <= 4096) *bits = 1024;
    }
}

// The session, the base objects and the token objects of the run.
class Harness {
public:
    Harness();
    void Run(Input& input);

private:
    void ResetToken();
    void MakeBaseObjects();
    void Operate(Input& input, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& pool);
    void CleanUp(CK_SESSION_HANDLE session, const std::vector<CK_OBJECT_HANDLE>& made);
    static void Expect(bool condition, const char* what);
    static void Check(CK_RV rv, const char* call);

    CK_FUNCTION_LIST* m_f = nullptr;
    CK_SESSION_HANDLE m_baseSession = 0;
    std::vector<CK_OBJECT_HANDLE> m_base;
    size_t m_leftovers = 0;
};

void Harness::Expect(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_templates: %s\n", what);
    std::abort();
}

// Codes that no template may cause: they mean a fault inside the module.
void Harness::Check(CK_RV rv, const char* call) {
    if (rv == CKR_GENERAL_ERROR || rv == CKR_HOST_MEMORY || rv == CKR_DEVICE_ERROR) {
        std::fprintf(stderr, "fuzz_templates: %s answered 0x%lX\n", call, rv);
        std::abort();
    }
}

Harness::Harness() {
    Expect(C_GetFunctionList(&m_f) == CKR_OK, "C_GetFunctionList");
    Expect(m_f->C_Initialize(nullptr) == CKR_OK, "C_Initialize");
    ResetToken();
}

void Harness::ResetToken() {
    CK_UTF8CHAR pin[] = "52816037";
    CK_UTF8CHAR label[33] = "fuzzed templates                ";
    Expect(m_f->C_CloseAllSessions(0) == CKR_OK, "C_CloseAllSessions");
    Expect(m_f->C_InitToken(0, pin, 8, label) == CKR_OK, "C_InitToken");
    Expect(m_f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_baseSession) == CKR_OK,
           "C_OpenSession");
    Expect(m_f->C_Login(m_baseSession, CKU_USER, pin, 8) == CKR_OK, "C_Login");
    MakeBaseObjects();
    m_leftovers = 0;
}

// Session objects of the base session: a data object, a GOST 28147-89 key, RSA and GOST
// R 34.10-2001 public keys and an RSA private key, each with whatever the class needs.
void Harness::MakeBaseObjects() {
    CK_OBJECT_CLASS data = CKO_DATA, secret = CKO_SECRET_KEY, publicKey = CKO_PUBLIC_KEY, privateKey = CKO_PRIVATE_KEY;
    CK_KEY_TYPE gost28147 = CKK_GOST28147, rsa = CKK_RSA, gost3410 = CKK_GOSTR3410;
    // The private exponent is below the modulus: the module refuses RSA values that form no key.
    Bytes label = {'b', 'a', 's', 'e'}, key32(32, 0x5A), modulus(128, 0xC3), gostPublic(64, 0x11);
    Bytes privateExponent(128, 0x41);
    Bytes exponent = kKnownValues[3], gostParams = kKnownValues[0];
    std::vector<std::vector<CK_ATTRIBUTE>> templates = {
        {{CKA_CLASS, &data, sizeof data}, {CKA_LABEL, label.data(), label.size()}, {CKA_VALUE, key32.data(), 8}},
        {{CKA_CLASS, &secret, sizeof secret}, {CKA_KEY_TYPE, &gost28147, sizeof gost28147},
         {CKA_VALUE, key32.data(), key32.size()}},
        {{CKA_CLASS, &publicKey, sizeof publicKey}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
         {CKA_MODULUS, modulus.data(), modulus.size()}, {CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()}},
        {{CKA_CLASS, &publicKey, sizeof publicKey}, {CKA_KEY_TYPE, &gost3410, sizeof gost3410},
         {CKA_VALUE, gostPublic.data(), gostPublic.size()},
         {CKA_GOSTR3410_PARAMS, gostParams.data(), gostParams.size()}},
        {{CKA_CLASS, &privateKey, sizeof privateKey}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
         {CKA_MODULUS, modulus.data(), modulus.size()},
         {CKA_PRIVATE_EXPONENT, privateExponent.data(), privateExponent.size()}},
    };
    m_base.clear();
    for (auto& attributes : templates) {
        CK_OBJECT_HANDLE object = 0;
        Expect(m_f->C_CreateObject(m_baseSession, attributes.data(), attributes.size(), &object) == CKR_OK,
               "a base object");
        m_base.push_back(object);
    }
}

void Harness::Run(Input& input) {
    CK_SESSION_HANDLE session = 0;
    Expect(m_f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK,
           "C_OpenSession");
    std::vector<CK_OBJECT_HANDLE> pool;
    for (CK_OBJECT_HANDLE base : m_base) {
        CK_OBJECT_HANDLE copy = 0;
        Expect(m_f->C_CopyObject(session, base, nullptr, 0, &copy) == CKR_OK, "copying a base object");
        pool.push_back(copy);
    }
    const size_t copies = pool.size();
    for (size_t done = 0; done < kMaxOperations && !input.Empty(); ++done) Operate(input, session, pool);
    CleanUp(session, std::vector<CK_OBJECT_HANDLE>(pool.begin() + copies, pool.end()));
}

void Harness::Operate(Input& input, CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& pool) {
    const uint8_t operation = input.Byte() % 6;
    const CK_OBJECT_HANDLE target = pool[input.Byte() % pool.size()];
    Template given = MakeTemplate(input);
    CK_OBJECT_HANDLE made = 0, second = 0;
    CK_RV rv = CKR_OK;
    switch (operation) {
    case 0:
        Check(rv = m_f->C_CreateObject(session, given.Data(), given.Count(), &made), "C_CreateObject");
        break;
    case 1:
        Check(rv = m_f->C_CopyObject(session, target, given.Data(), given.Count(), &made), "C_CopyObject");
        break;
    case 2:
        Check(m_f->C_SetAttributeValue(session, target, given.Data(), given.Count()), "C_SetAttributeValue");
        return;
    case 3: {
        Check(rv = m_f->C_FindObjectsInit(session, given.Data(), given.Count()), "C_FindObjectsInit");
        if (rv != CKR_OK) return;
        CK_OBJECT_HANDLE found[16];
        CK_ULONG count = 0;
        Check(m_f->C_FindObjects(session, found, 16, &count), "C_FindObjects");
        Expect(count <= 16, "C_FindObjects returned more than asked for");
        Check(m_f->C_FindObjectsFinal(session), "C_FindObjectsFinal");
        return;
    }
    case 4: {
        const bool useRsa = input.Byte() % 2 == 0;
        CK_MECHANISM mechanism = {useRsa ? CKM_RSA_PKCS_KEY_PAIR_GEN : CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        Template privateTemplate = MakeTemplate(input);
        LimitModulusBits(given);
        Check(rv = m_f->C_GenerateKeyPair(session, &mechanism, given.Data(), given.Count(), privateTemplate.Data(),
                                          privateTemplate.Count(), &made, &second),
              "C_GenerateKeyPair");
        break;
    }
    default:
        // The template's values are the output buffers, each as long as it says.
        for (size_t i = 0; i < given.attributes.size(); ++i)
            if (given.attributes[i].pValue != nullptr)
                given.attributes[i].ulValueLen = std::min<CK_ULONG>(given.attributes[i].ulValueLen, given.values[i].size());
        Check(m_f->C_GetAttributeValue(session, target, given.Data(), given.Count()), "C_GetAttributeValue");
        return;
    }
    if (rv != CKR_OK) return;
    for (CK_OBJECT_HANDLE handle : {made, second})
        if (handle != CK_INVALID_HANDLE) pool.push_back(handle);
}

// Destroys what the input made; session objects go with the session. Token objects that
// refuse to go are counted, and the token is wiped once there are many.
void Harness::CleanUp(CK_SESSION_HANDLE session, const std::vector<CK_OBJECT_HANDLE>& made) {
    for (CK_OBJECT_HANDLE object : made) {
        if (m_f->C_DestroyObject(session, object) == CKR_OK) continue;
        CK_BBOOL onToken = CK_FALSE;
        CK_ATTRIBUTE query = {CKA_TOKEN, &onToken, 1};
        if (m_f->C_GetAttributeValue(session, object, &query, 1) == CKR_OK && onToken == CK_TRUE) ++m_leftovers;
    }
    Expect(m_f->C_CloseSession(session) == CKR_OK, "C_CloseSession");
    if (m_leftovers > kMaxLeftovers) ResetToken();
}

// A store of its own, removed when the process ends.
std::string g_storeDir;

void RemoveStore() {
    std::error_code ignored;
    std::filesystem::remove_all(g_storeDir, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/fuzz-templates-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    g_storeDir = dir;
    std::atexit(RemoveStore);
    setenv("SOFTTOKEN_STORE", (g_storeDir + "/store.db").c_str(), 1);
    unsetenv("SOFTTOKEN_SLOTS");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    Input input(data, size);
    harness.Run(input);
    return 0;
}
