#include "Token.h"

#include "BlankPadded.h"
#include "ObjectPolicy.h"
#include "StoreCipher.h"
#include "WipeGuard.h"

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
    Reload();
}

Token::~Token() { Forget(); }

void Token::Refresh() {
    if (m_store.DataVersion() != m_version) Reload();
}

void Token::Reload() {
    m_version = m_store.DataVersion();
    m_record = m_store.LoadToken(m_slot);
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (it->second->owner == 0) it = m_objects.erase(it);
        else ++it;
    }
    if (!m_record.initialized) return;
    for (const StoredObject& stored : m_store.LoadObjects(m_slot)) m_objects[stored.id] = FromStore(stored);
}

std::shared_ptr<Object> Token::FromStore(const StoredObject& stored) const {
    auto object = std::make_shared<Object>(Object::Decode(stored.clear));
    object->rowId = stored.id;
    object->sealed = stored.sealed;
    object->opened = stored.sealed.empty();
    OpenSealed(*object);
    return object;
}

Bytes Token::SealContext() const {
    const std::string context = "softtoken object, slot " + std::to_string(m_slot);
    return Bytes(context.begin(), context.end());
}

void Token::OpenSealed(Object& object) const {
    if (object.opened || m_tokenKey.empty()) return;
    std::optional<Bytes> plain = StoreCipher::Open(m_tokenKey, object.sealed, SealContext());
    if (!plain) return;  // sealed under another token key: stays closed
    for (auto& [type, value] : Object::Decode(*plain)) object.Set(type, std::move(value));
    StoreCipher::Wipe(*plain);
    object.opened = true;
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
    Refresh();
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

void Token::CheckPinLength(const Bytes& pin) {
    Require(pin.size() >= kMinPinLength && pin.size() <= kMaxPinLength, CKR_PIN_LEN_RANGE);
}

Token::PinSlot Token::PinOf(Login who) {
    if (who == Login::SecurityOfficer)
        return {&m_record.soSalt, &m_record.soVerifier, &m_record.soWrappedKey, &m_record.soFailures, "so"};
    return {&m_record.userSalt, &m_record.userVerifier, &m_record.userWrappedKey, &m_record.userFailures, "user"};
}

// The check, the derivation and the count happen in one write transaction on the record as
// stored: processes trying PINs at once take turns, and every try is counted.
std::optional<Bytes> Token::UnlockWith(Login who, const Bytes& pin) {
    StoreTransaction transaction(m_store);
    m_record = m_store.LoadToken(m_slot);
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
    if (tokenKey && *slot.failures == 0) return tokenKey;  // nothing to count
    *slot.failures = tokenKey ? 0 : *slot.failures + 1;
    m_store.SaveToken(m_record);
    transaction.Commit();
    return tokenKey;
}

void Token::SetPin(Login who, const Bytes& pin, const Bytes& tokenKey) {
    PinSlot slot = PinOf(who);
    *slot.salt = StoreCipher::Random(kSaltSize);
    Bytes secret = StoreCipher::DerivePinSecret(pin, *slot.salt, static_cast<unsigned>(m_record.iterations));
    WipeGuard wipeSecret(secret);
    *slot.verifier = StoreCipher::Subkey(secret, "verify");
    Bytes wrapKey = StoreCipher::Subkey(secret, "wrap");
    WipeGuard wipeWrapKey(wrapKey);
    *slot.wrappedKey = StoreCipher::Seal(wrapKey, tokenKey, Bytes(slot.context, slot.context + std::strlen(slot.context)));
    *slot.failures = 0;
}

void Token::Initialize(const Bytes& soPin, const Bytes& label) {
    Refresh();
    CheckPinLength(soPin);
    if (m_record.initialized) {
        std::optional<Bytes> oldKey = UnlockWith(Login::SecurityOfficer, soPin);
        Require(oldKey.has_value(), CKR_PIN_INCORRECT);
        StoreCipher::Wipe(*oldKey);
    }
    TokenRecord record = m_record;
    record.initialized = true;
    record.label = label;
    if (record.serial.empty()) {
        static const char digits[] = "0123456789ABCDEF";
        for (unsigned char byte : StoreCipher::Random(8)) {
            record.serial += digits[byte >> 4];
            record.serial += digits[byte & 15];
        }
    }
    record.iterations = kPinIterations;
    m_record = record;
    Bytes tokenKey = StoreCipher::Random(StoreCipher::KeySize);
    WipeGuard wipe(tokenKey);
    // The token this module stands in for gives the user the SO PIN at initialisation.
    SetPin(Login::SecurityOfficer, soPin, tokenKey);
    SetPin(Login::User, soPin, tokenKey);
    try {
        m_store.ResetToken(m_record);
    } catch (...) {
        m_version = -1;  // reread what the store really holds
        throw;
    }
    Forget();
    m_objects.clear();
    m_version = m_store.DataVersion();
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
    if (who == Login::User) Require(!m_record.userVerifier.empty(), CKR_USER_PIN_NOT_INITIALIZED);
    Require(m_record.initialized, CKR_USER_PIN_NOT_INITIALIZED);
    std::optional<Bytes> tokenKey = UnlockWith(who, pin);
    Require(tokenKey.has_value(), CKR_PIN_INCORRECT);
    m_tokenKey = std::move(*tokenKey);
    m_login = who;
    for (auto& [handle, object] : m_objects) OpenSealed(*object);
}

void Token::LogOut() {
    Require(m_login != Login::None, CKR_USER_NOT_LOGGED_IN);
    Forget();
}

void Token::InitUserPin(const Bytes& pin) {
    Refresh();
    Require(m_login == Login::SecurityOfficer, CKR_USER_NOT_LOGGED_IN);
    CheckPinLength(pin);
    TokenRecord saved = m_record;
    SetPin(Login::User, pin, m_tokenKey);
    try {
        m_store.SaveToken(m_record);
    } catch (...) {
        m_record = saved;
        throw;
    }
}

void Token::ChangePin(const Bytes& oldPin, const Bytes& newPin) {
    Refresh();
    const Login who = m_login == Login::SecurityOfficer ? Login::SecurityOfficer : Login::User;
    Require(m_record.initialized && !PinOf(who).verifier->empty(), CKR_USER_PIN_NOT_INITIALIZED);
    std::optional<Bytes> tokenKey = UnlockWith(who, oldPin);
    Require(tokenKey.has_value(), CKR_PIN_INCORRECT);
    WipeGuard wipe(*tokenKey);
    CheckPinLength(newPin);
    TokenRecord saved = m_record;
    SetPin(who, newPin, *tokenKey);
    try {
        m_store.SaveToken(m_record);
    } catch (...) {
        m_record = saved;
        throw;
    }
}

bool Token::IsVisible(const Object& object) const {
    return object.opened && (!object.IsPrivate() || m_login == Login::User);
}

// Handles come from searches, which refresh the cache; looking one up costs no store access.
std::shared_ptr<Object> Token::Find(CK_OBJECT_HANDLE handle) {
    auto it = m_objects.find(handle);
    if (it == m_objects.end() || !IsVisible(*it->second)) return nullptr;
    return it->second;
}

std::vector<CK_OBJECT_HANDLE> Token::Search(const Object::Map& query) const {
    std::vector<CK_OBJECT_HANDLE> found;
    for (const auto& [handle, object] : m_objects)
        if (IsVisible(*object) && ObjectPolicy::Matches(*object, query)) found.push_back(handle);
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
        m_store.UpdateObject(changed.rowId, clear, sealed);
        changed.sealed = std::move(sealed);
    }
    it->second = std::make_shared<Object>(std::move(changed));
}

void Token::Destroy(CK_OBJECT_HANDLE handle) {
    auto it = m_objects.find(handle);
    Require(it != m_objects.end(), CKR_OBJECT_HANDLE_INVALID);
    if (it->second->IsTokenObject()) m_store.DeleteObject(it->second->rowId);
    m_objects.erase(it);
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
