#include "module/Token.h"

#include "objects/BlankPadded.h"
#include "objects/ObjectPolicy.h"
#include "store/StoreCipher.h"
#include "objects/WipeGuard.h"

#include <algorithm>
#include <cstring>

namespace softtoken {
namespace {

// PBKDF2 iterations: one login costs about 10 ms on an idle development machine.
constexpr long long kPinIterations = 30000;
constexpr size_t kSaltSize = 16;
// Session objects count down from the top of the 31-bit range, token objects (store rows)
// count up from 1: handles fit clients that keep them in 32 bits, signed or not.
constexpr CK_OBJECT_HANDLE kFirstSessionObject = 0x7FFFFFFF;

}  // namespace

Token::Token(CK_SLOT_ID slot, ObjectStore& store)
    : m_slot(slot), m_store(store), m_nextSessionObject(kFirstSessionObject) {
    m_generation = m_store.Generation(m_slot);
    Reload();
}

Token::~Token() { Forget(); }

void Token::FollowGeneration() {
    const long long version = m_store.DataVersion();
    if (version == m_generationVersion) return;
    Observe(m_store.Generation(m_slot));
    m_generationVersion = version;
}

bool Token::Observe(long long generation) {
    if (generation == m_generation) return false;
    Forget();
    m_objects.clear();
    m_generation = generation;
    m_version = -1;
    return true;
}

void Token::Refresh() {
    if (m_store.DataVersion() != m_version) Reload();
}

// Record and objects come from one snapshot of the store. The version is read first: a
// commit that slips in between only makes the next Refresh load again.
void Token::Reload() {
    const long long version = m_store.DataVersion();
    StoreTransaction snapshot(m_store, StoreTransaction::Kind::Read);
    m_record = m_store.LoadToken(m_slot);
    if (Observe(m_record.generation)) throw Pkcs11Error(CKR_SESSION_HANDLE_INVALID);
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (it->second->owner == 0) it = m_objects.erase(it);
        else ++it;
    }
    if (m_record.initialized)
        for (const StoredObject& stored : m_store.LoadObjects(m_slot)) m_objects[stored.id] = FromStore(stored);
    snapshot.Commit();
    m_version = version;
}

void Token::LoadCurrentRecord() {
    m_record = m_store.LoadToken(m_slot);
    if (Observe(m_record.generation)) throw Pkcs11Error(CKR_SESSION_HANDLE_INVALID);
}

void Token::RequireCurrentGeneration() {
    if (Observe(m_store.Generation(m_slot))) throw Pkcs11Error(CKR_SESSION_HANDLE_INVALID);
}

std::shared_ptr<Object> Token::FromStore(const StoredObject& stored) const {
    auto object = std::make_shared<Object>(Object::Decode(stored.clear));
    object->rowId = stored.id;
    object->sealed = stored.sealed;
    object->opened = stored.sealed.empty();  // the sealed part is opened on first need
    return object;
}

Bytes Token::SealContext() const {
    const std::string context = "softtoken object, slot " + std::to_string(m_slot);
    return Bytes(context.begin(), context.end());
}

bool Token::OpenSealed(Object& object) const {
    if (object.opened) return true;
    if (m_tokenKey.empty()) return false;
    std::optional<Bytes> plain = StoreCipher::Open(m_tokenKey, object.sealed, SealContext());
    if (!plain) return false;  // sealed under another token key: stays closed
    WipeGuard wipe(*plain);
    for (auto& [type, value] : Object::Decode(*plain)) object.Set(type, std::move(value));
    object.opened = true;
    return true;
}

void Token::CloseSealed(Object& object) const {
    if (object.sealed.empty() || !object.opened) return;
    for (auto it = object.Attributes().begin(); it != object.Attributes().end();) {
        if (ObjectPolicy::IsSealed(object, it->first)) {
            StoreCipher::Wipe(it->second);
            it = object.Attributes().erase(it);
        } else {
            ++it;
        }
    }
    object.keyCache.reset();
    object.opened = false;
}

std::pair<Bytes, Bytes> Token::Split(const Object& object) const {
    Object::Map clear, secret;
    for (const auto& [type, value] : object.Attributes())
        (ObjectPolicy::IsSealed(object, type) ? secret : clear)[type] = value;
    if (secret.empty()) return {Object::Encode(clear), {}};
    if (!object.opened) return {Object::Encode(clear), object.sealed};
    Require(!m_tokenKey.empty(), CKR_USER_NOT_LOGGED_IN);
    Bytes plain = Object::Encode(secret);
    WipeGuard wipe(plain);
    for (auto& entry : secret) StoreCipher::Wipe(entry.second);
    return {Object::Encode(clear), StoreCipher::Seal(m_tokenKey, plain, SealContext())};
}

void Token::FillInfo(CK_TOKEN_INFO& info, CK_ULONG sessions, CK_ULONG rwSessions) {
    m_record = m_store.LoadToken(m_slot);
    Observe(m_record.generation);
    std::memset(&info, 0, sizeof info);
    BlankPadded(info.label, sizeof info.label, "");
    if (m_record.initialized && m_record.label.size() == sizeof info.label)
        std::memcpy(info.label, m_record.label.data(), sizeof info.label);
    BlankPadded(info.manufacturerID, sizeof info.manufacturerID, "tokentest");
    BlankPadded(info.model, sizeof info.model, "softtoken");
    BlankPadded(info.serialNumber, sizeof info.serialNumber, m_record.serial);
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_RESTORE_KEY_NOT_NEEDED;
    if (m_record.initialized) info.flags |= CKF_TOKEN_INITIALIZED;
    if (!m_record.userVerifier.empty()) info.flags |= CKF_USER_PIN_INITIALIZED;
    if (m_record.userFailures > 0) info.flags |= CKF_USER_PIN_COUNT_LOW;
    if (m_record.userFailures == kMaxFailures - 1) info.flags |= CKF_USER_PIN_FINAL_TRY;
    if (m_record.userFailures >= kMaxFailures) info.flags |= CKF_USER_PIN_LOCKED;
    if (m_record.soFailures > 0) info.flags |= CKF_SO_PIN_COUNT_LOW;
    if (m_record.soFailures == kMaxFailures - 1) info.flags |= CKF_SO_PIN_FINAL_TRY;
    if (m_record.soFailures >= kMaxFailures) info.flags |= CKF_SO_PIN_LOCKED;
    info.ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulSessionCount = sessions;
    info.ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulRwSessionCount = rwSessions;
    info.ulMaxPinLen = kMaxPinLength;
    info.ulMinPinLen = kMinPinLength;
    info.ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.hardwareVersion = {1, 0};
    info.firmwareVersion = {1, 0};
    BlankPadded(info.utcTime, sizeof info.utcTime, "");
}

bool Token::IsValidPinLength(const Bytes& pin) { return pin.size() >= kMinPinLength && pin.size() <= kMaxPinLength; }

void Token::CheckPinLength(const Bytes& pin) { Require(IsValidPinLength(pin), CKR_PIN_LEN_RANGE); }

Token::PinSlot Token::PinOf(Login who) {
    if (who == Login::SecurityOfficer)
        return {&m_record.soSalt, &m_record.soVerifier, &m_record.soWrappedKey, &m_record.soFailures, "so"};
    return {&m_record.userSalt, &m_record.userVerifier, &m_record.userWrappedKey, &m_record.userFailures, "user"};
}

PinOwner Token::OwnerOf(Login who) {
    return who == Login::SecurityOfficer ? PinOwner::SecurityOfficer : PinOwner::User;
}

// The check, the derivation and the count happen in the caller's write transaction on the
// record as stored: processes trying PINs at once take turns, and every try is counted.
Bytes Token::Unlock(Login who, const Bytes& pin, StoreTransaction& transaction) {
    PinSlot slot = PinOf(who);
    Require(*slot.failures < kMaxFailures, CKR_PIN_LOCKED);
    Bytes secret = StoreCipher::DerivePinSecret(pin, *slot.salt, static_cast<unsigned>(m_record.iterations));
    WipeGuard wipeSecret(secret);
    std::optional<Bytes> tokenKey;
    if (StoreCipher::EqualConstantTime(StoreCipher::Subkey(secret, "verify"), *slot.verifier)) {
        Bytes wrapKey = StoreCipher::Subkey(secret, "wrap");
        WipeGuard wipeWrapKey(wrapKey);
        tokenKey = StoreCipher::Open(wrapKey, *slot.wrappedKey, Bytes(slot.context, slot.context + std::strlen(slot.context)));
    }
    const long long failures = tokenKey ? 0 : *slot.failures + 1;
    if (failures != *slot.failures) {
        *slot.failures = failures;
        m_store.SaveFailures(m_slot, OwnerOf(who), failures);
    }
    if (!tokenKey) {
        transaction.Commit();
        throw Pkcs11Error(CKR_PIN_INCORRECT);
    }
    return std::move(*tokenKey);
}

Token::DerivedPin::~DerivedPin() { StoreCipher::Wipe(secret); }

void Token::Derive(DerivedPin& derived, const Bytes& pin, long long iterations) {
    derived.salt = StoreCipher::Random(kSaltSize);
    StoreCipher::Wipe(derived.secret);
    derived.secret = StoreCipher::DerivePinSecret(pin, derived.salt, static_cast<unsigned>(iterations));
    derived.iterations = iterations;
}

void Token::MatchIterations(DerivedPin& derived, const Bytes& pin) const {
    if (derived.iterations != m_record.iterations) Derive(derived, pin, m_record.iterations);
}

void Token::SealPin(Login who, const DerivedPin& pin, const Bytes& tokenKey) {
    PinSlot slot = PinOf(who);
    *slot.salt = pin.salt;
    *slot.verifier = StoreCipher::Subkey(pin.secret, "verify");
    Bytes wrapKey = StoreCipher::Subkey(pin.secret, "wrap");
    WipeGuard wipeWrapKey(wrapKey);
    *slot.wrappedKey = StoreCipher::Seal(wrapKey, tokenKey, Bytes(slot.context, slot.context + std::strlen(slot.context)));
    *slot.failures = 0;
}

void Token::SavePin(Login who) {
    PinSlot slot = PinOf(who);
    m_store.SavePin(m_slot, OwnerOf(who), *slot.salt, *slot.verifier, *slot.wrappedKey);
}

// Everything but the serial number is new, and the generation moves on.
void Token::NewIdentity(const Bytes& label) {
    m_record.initialized = true;
    m_record.label = label;
    if (m_record.serial.empty()) {
        static const char digits[] = "0123456789ABCDEF";
        for (unsigned char byte : StoreCipher::Random(8)) {
            m_record.serial += digits[byte >> 4];
            m_record.serial += digits[byte & 15];
        }
    }
    m_record.iterations = kPinIterations;
    ++m_record.generation;
}

// The SO PIN check, the wipe and the new record are one transaction: a PIN changed by another
// process meanwhile is the one checked, and a failed try is counted.
void Token::Initialize(const Bytes& soPin, const Bytes& label) {
    CheckPinLength(soPin);
    DerivedPin soDerived, userDerived;
    Derive(soDerived, soPin, kPinIterations);
    Derive(userDerived, soPin, kPinIterations);
    StoreTransaction transaction(m_store);
    m_record = m_store.LoadToken(m_slot);
    Observe(m_record.generation);  // no session of this process is open on the token
    if (m_record.initialized) {
        Bytes oldKey = Unlock(Login::SecurityOfficer, soPin, transaction);
        StoreCipher::Wipe(oldKey);
    }
    NewIdentity(label);
    Bytes tokenKey = StoreCipher::Random(StoreCipher::KeySize);
    WipeGuard wipe(tokenKey);
    // The token this module stands in for gives the user the SO PIN at initialisation.
    SealPin(Login::SecurityOfficer, soDerived, tokenKey);
    SealPin(Login::User, userDerived, tokenKey);
    m_store.ResetToken(m_record);
    transaction.Commit();
    Observe(m_record.generation);  // this process starts afresh on the new generation
    ForgetVersion();
}

void Token::Forget() {
    for (auto& [handle, object] : m_objects) CloseSealed(*object);
    StoreCipher::Wipe(m_tokenKey);
    m_login = Login::None;
}

void Token::LogIn(CK_USER_TYPE user, const Bytes& pin) {
    Refresh();
    const Login who = user == CKU_SO ? Login::SecurityOfficer : Login::User;
    if (m_login != Login::None)
        throw Pkcs11Error(m_login == who ? CKR_USER_ALREADY_LOGGED_IN : CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    StoreTransaction transaction(m_store);
    LoadCurrentRecord();
    if (who == Login::User) Require(!m_record.userVerifier.empty(), CKR_USER_PIN_NOT_INITIALIZED);
    Require(m_record.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    Bytes tokenKey = Unlock(who, pin, transaction);
    WipeGuard wipe(tokenKey);
    transaction.Commit();
    // Sealed parts are opened when a call first needs them: the login costs the same for
    // any number of objects.
    m_tokenKey = tokenKey;
    m_login = who;
}

// The user PIN again, for one operation of a key that asks for it: checked and counted as a
// user login is, the login state unchanged.
void Token::ConfirmUserPin(const Bytes& pin) {
    Require(m_login == Login::User, CKR_USER_NOT_LOGGED_IN);
    StoreTransaction transaction(m_store);
    LoadCurrentRecord();
    Bytes tokenKey = Unlock(Login::User, pin, transaction);
    StoreCipher::Wipe(tokenKey);
    transaction.Commit();
}

void Token::LogOut() {
    Require(m_login != Login::None, CKR_USER_NOT_LOGGED_IN);
    Forget();
}

void Token::InitUserPin(const Bytes& pin) {
    Require(m_login == Login::SecurityOfficer, CKR_USER_NOT_LOGGED_IN);
    CheckPinLength(pin);
    DerivedPin derived;
    Derive(derived, pin, kPinIterations);
    StoreTransaction transaction(m_store);
    LoadCurrentRecord();
    MatchIterations(derived, pin);
    SealPin(Login::User, derived, m_tokenKey);
    SavePin(Login::User);
    transaction.Commit();
}

// The new PIN is derived first; the check of the old one, its count and the change are one
// transaction that writes only the changed PIN's fields, on the record as it is at that moment.
void Token::ChangePin(const Bytes& oldPin, const Bytes& newPin) {
    const Login who = m_login == Login::SecurityOfficer ? Login::SecurityOfficer : Login::User;
    DerivedPin derived;
    if (IsValidPinLength(newPin)) Derive(derived, newPin, kPinIterations);
    StoreTransaction transaction(m_store);
    LoadCurrentRecord();
    Require(m_record.initialized && !PinOf(who).verifier->empty(), CKR_USER_PIN_NOT_INITIALIZED);
    Bytes tokenKey = Unlock(who, oldPin, transaction);
    WipeGuard wipe(tokenKey);
    if (!IsValidPinLength(newPin)) {
        transaction.Commit();  // the right old PIN still resets its count
        throw Pkcs11Error(CKR_PIN_LEN_RANGE);
    }
    MatchIterations(derived, newPin);
    SealPin(who, derived, tokenKey);
    SavePin(who);
    transaction.Commit();
}

bool Token::IsVisible(Object& object) const {
    if (object.IsPrivate() && m_login != Login::User) return false;
    return OpenSealed(object);
}

// Handles come from searches, which refresh the cache; looking one up costs no store access.
std::shared_ptr<Object> Token::Find(CK_OBJECT_HANDLE handle) {
    auto it = m_objects.find(handle);
    if (it == m_objects.end() || !IsVisible(*it->second)) return nullptr;
    return it->second;
}

// The clear attributes decide first, so that only the objects they leave are opened.
bool Token::MayMatch(const Object& object, const Object::Map& query) {
    if (object.opened) return true;
    for (const auto& [type, value] : query) {
        if (ObjectPolicy::IsSealed(object, type)) continue;
        auto it = object.Attributes().find(type);
        if (it == object.Attributes().end() || it->second != value) return false;
    }
    return true;
}

std::vector<CK_OBJECT_HANDLE> Token::Search(const Object::Map& query) {
    std::vector<CK_OBJECT_HANDLE> found;
    for (const auto& [handle, object] : m_objects)
        if (MayMatch(*object, query) && IsVisible(*object) && ObjectPolicy::Matches(*object, query))
            found.push_back(handle);
    return found;
}

void Token::CheckMayWrite(const Object& object) const {
    if (object.IsPrivate()) Require(m_login == Login::User, CKR_USER_NOT_LOGGED_IN);
}

CK_OBJECT_HANDLE Token::Add(Object object) {
    std::vector<Object> one;
    one.push_back(std::move(object));
    return AddAll(std::move(one)).front();
}

std::vector<CK_OBJECT_HANDLE> Token::AddAll(std::vector<Object> objects) {
    for (const Object& object : objects) CheckMayWrite(object);
    std::vector<std::pair<CK_OBJECT_HANDLE, std::shared_ptr<Object>>> added;
    {
        StoreTransaction transaction(m_store);
        RequireCurrentGeneration();
        for (Object& object : objects) {
            CK_OBJECT_HANDLE handle = 0;
            if (object.IsTokenObject()) {
                object.opened = true;
                auto [clear, sealed] = Split(object);
                object.rowId = m_store.InsertObject(m_slot, clear, sealed);
                object.sealed = std::move(sealed);
                handle = static_cast<CK_OBJECT_HANDLE>(object.rowId);
            } else {
                handle = NextSessionObject();
            }
            added.emplace_back(handle, std::make_shared<Object>(std::move(object)));
        }
        transaction.Commit();
    }
    std::vector<CK_OBJECT_HANDLE> handles;
    for (auto& [handle, object] : added) {
        m_objects[handle] = object;
        handles.push_back(handle);
    }
    return handles;
}

CK_OBJECT_HANDLE Token::NextSessionObject() {
    while (m_nextSessionObject != CK_INVALID_HANDLE && m_objects.count(m_nextSessionObject) != 0) --m_nextSessionObject;
    Require(m_nextSessionObject != CK_INVALID_HANDLE, CKR_DEVICE_MEMORY);
    return m_nextSessionObject--;
}

void Token::Update(CK_OBJECT_HANDLE handle, Object changed) {
    auto it = m_objects.find(handle);
    Require(it != m_objects.end(), CKR_OBJECT_HANDLE_INVALID);
    changed.keyCache.reset();
    if (changed.IsTokenObject()) {
        auto [clear, sealed] = Split(changed);
        StoreTransaction transaction(m_store);
        RequireCurrentGeneration();
        m_store.UpdateObject(changed.rowId, clear, sealed);
        transaction.Commit();
        changed.sealed = std::move(sealed);
    }
    it->second = std::make_shared<Object>(std::move(changed));
}

void Token::Destroy(CK_OBJECT_HANDLE handle) {
    auto it = m_objects.find(handle);
    Require(it != m_objects.end(), CKR_OBJECT_HANDLE_INVALID);
    if (it->second->IsTokenObject()) {
        StoreTransaction transaction(m_store);
        RequireCurrentGeneration();
        m_store.DeleteObject(it->second->rowId);
        transaction.Commit();
    }
    m_objects.erase(handle);
}

void Token::DestroySessionObjects(CK_SESSION_HANDLE session) {
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (it->second->owner == session) it = m_objects.erase(it);
        else ++it;
    }
}

void Token::DestroyAllSessionObjects() {
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (it->second->owner != 0) it = m_objects.erase(it);
        else ++it;
    }
}

}  // namespace softtoken
