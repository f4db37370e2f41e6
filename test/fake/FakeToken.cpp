#include "FakeToken.h"

#include <algorithm>
#include <cstring>

namespace fake {

namespace {

const char kDefaultPin[] = "52816037";
const size_t kDescriptionSize = 64;
const size_t kLabelSize = 32;
const size_t kSerialSize = 16;

Bytes DefaultOutput(const std::string& entry)
{
    Bytes out;
    if (entry == "C_Sign") {
        for (int i = 1; i <= 64; ++i) out.push_back(static_cast<unsigned char>(i));
    } else if (entry == "C_KTL_CreateCSR") {
        out.assign(100, 0);
        out[0] = 0x30;
        out[1] = 0x62;
        for (size_t i = 2; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i);
    } else if (entry == "C_KTL_SignWithCert") {
        out.assign(128, 0xA5);
    }
    return out;
}

Bytes Padded(const std::string& text, size_t size)
{
    Bytes out(text.begin(), text.end());
    out.resize(size, ' ');
    return out;
}

bool HasType(const std::vector<Attribute>& attributes, CK_ATTRIBUTE_TYPE type)
{
    return std::any_of(attributes.begin(), attributes.end(), [type](const Attribute& a) { return a.type == type; });
}

}  // namespace

FakeToken::FakeToken() : m_tokenLabel(Padded("Fake token", kLabelSize))
{
    m_pins[CKU_SO] = kDefaultPin;
    m_pins[CKU_USER] = kDefaultPin;
    for (const char* entry : {"C_Sign", "C_KTL_CreateCSR", "C_KTL_SignWithCert"}) {
        m_outputs[entry] = DefaultOutput(entry);
    }
}

void FakeToken::AddSlot(CK_SLOT_ID id, const std::string& description, bool present)
{
    Slot slot;
    slot.id = id;
    slot.description = Padded(description.substr(0, kDescriptionSize), kDescriptionSize);
    slot.present = present;
    slot.serial = Padded("", kSerialSize);
    m_slots.push_back(slot);
}

void FakeToken::SetLabel(const std::string& label) { m_tokenLabel = Padded(label, kLabelSize); }

void FakeToken::SetSerialNumber(CK_SLOT_ID id, const std::string& serial)
{
    if (Slot* slot = FindSlot(id)) slot->serial = Padded(serial.substr(0, kSerialSize), kSerialSize);
}

void FakeToken::SetTokenPresent(CK_SLOT_ID id, bool present)
{
    if (Slot* slot = FindSlot(id)) slot->present = present;
}

std::string FakeToken::Pin(CK_USER_TYPE user) const
{
    auto it = m_pins.find(user);
    return it == m_pins.end() ? std::string() : it->second;
}

CK_OBJECT_HANDLE FakeToken::AddObject(const std::vector<Attribute>& attributes) { return Store(attributes); }

std::vector<Attribute> FakeToken::ObjectAttributes(CK_OBJECT_HANDLE handle) const
{
    auto it = m_objects.find(handle);
    return it == m_objects.end() ? std::vector<Attribute>() : it->second;
}

std::vector<CK_SESSION_HANDLE> FakeToken::OpenSessions() const
{
    std::vector<CK_SESSION_HANDLE> handles;
    for (const auto& entry : m_sessions) handles.push_back(entry.first);
    return handles;
}

FakeToken::Slot* FakeToken::FindSlot(CK_SLOT_ID id)
{
    auto it = std::find_if(m_slots.begin(), m_slots.end(), [id](const Slot& s) { return s.id == id; });
    return it == m_slots.end() ? nullptr : &*it;
}

FakeToken::Session* FakeToken::FindSession(CK_SESSION_HANDLE handle)
{
    auto it = m_sessions.find(handle);
    return it == m_sessions.end() ? nullptr : &it->second;
}

CK_OBJECT_HANDLE FakeToken::Store(std::vector<Attribute> attributes)
{
    for (Attribute& a : attributes) {
        a.length = a.value.size();
        a.nullValue = false;
    }
    CK_OBJECT_HANDLE handle = m_nextObject++;
    m_objects[handle] = std::move(attributes);
    m_order.push_back(handle);
    return handle;
}

bool FakeToken::Matches(CK_OBJECT_HANDLE handle, const std::vector<Attribute>& filter) const
{
    const std::vector<Attribute>& attributes = m_objects.at(handle);
    return std::all_of(filter.begin(), filter.end(), [&attributes](const Attribute& wanted) {
        return std::any_of(attributes.begin(), attributes.end(), [&wanted](const Attribute& a) {
            return a.type == wanted.type && a.value == wanted.value;
        });
    });
}

void FakeToken::ForgetLoginWhenNoSession()
{
    if (m_sessions.empty()) m_loggedIn.reset();
}

CK_RV FakeToken::Initialize()
{
    if (m_initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    m_initialized = true;
    return CKR_OK;
}

CK_RV FakeToken::Finalize()
{
    if (!m_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    m_initialized = false;
    m_sessions.clear();
    m_loggedIn.reset();
    return CKR_OK;
}

CK_RV FakeToken::GetSlotList(bool tokenPresent, CK_SLOT_ID* list, CK_ULONG* count)
{
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (const Slot& slot : m_slots) {
        if (slot.present || !tokenPresent) ids.push_back(slot.id);
    }
    if (list == nullptr) {
        auto reported = m_reported.find("C_GetSlotList");
        *count = reported != m_reported.end() ? reported->second : ids.size();
        return CKR_OK;
    }
    if (*count < ids.size()) {
        *count = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(ids.begin(), ids.end(), list);
    *count = ids.size();
    return CKR_OK;
}

CK_RV FakeToken::GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO* info)
{
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    std::memcpy(info->slotDescription, slot->description.data(), sizeof(info->slotDescription));
    // Text right after the description, so that a reader running past its 64 bytes shows.
    const Bytes manufacturer = Padded("Fake manufacturer", sizeof(info->manufacturerID));
    std::memcpy(info->manufacturerID, manufacturer.data(), manufacturer.size());
    info->flags = CKF_REMOVABLE_DEVICE | (slot->present ? CKF_TOKEN_PRESENT : 0);
    return CKR_OK;
}

CK_RV FakeToken::GetInfo(CK_INFO* info) const
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    info->cryptokiVersion = CK_VERSION{2, 40};
    const Bytes manufacturer = Padded("Fake manufacturer", sizeof(info->manufacturerID));
    std::memcpy(info->manufacturerID, manufacturer.data(), manufacturer.size());
    const Bytes description = Padded("Scripted fake module", sizeof(info->libraryDescription));
    std::memcpy(info->libraryDescription, description.data(), description.size());
    info->libraryVersion = CK_VERSION{1, 2};
    return CKR_OK;
}

CK_RV FakeToken::GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO* info)
{
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    std::memcpy(info->label, m_tokenLabel.data(), sizeof(info->label));
    const Bytes manufacturer = Padded("Fake manufacturer", sizeof(info->manufacturerID));
    std::memcpy(info->manufacturerID, manufacturer.data(), manufacturer.size());
    const Bytes model = Padded("Fake model", sizeof(info->model));
    std::memcpy(info->model, model.data(), model.size());
    std::memcpy(info->serialNumber, slot->serial.data(), sizeof(info->serialNumber));
    // A standard C_InitToken leaves the user PIN to C_InitPIN.
    info->flags = m_userPinInitialized ? m_tokenFlags
                                       : (m_tokenFlags & ~static_cast<CK_FLAGS>(CKF_USER_PIN_INITIALIZED));
    info->ulMaxPinLen = 255;
    info->ulMinPinLen = 1;
    return CKR_OK;
}

void FakeToken::AddMechanism(const Mechanism& mechanism)
{
    if (!m_mechanisms) m_mechanisms.emplace();
    m_mechanisms->push_back(mechanism);
}

CK_RV FakeToken::GetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count)
{
    if (!m_mechanisms) return CKR_FUNCTION_NOT_SUPPORTED;
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_ULONG available = static_cast<CK_ULONG>(m_mechanisms->size());
    if (list == nullptr) {
        *count = available;
        return CKR_OK;
    }
    if (*count < available) {
        *count = available;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < available; ++i) list[i] = (*m_mechanisms)[i].type;
    *count = available;
    return CKR_OK;
}

CK_RV FakeToken::GetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info)
{
    if (!m_mechanisms) return CKR_FUNCTION_NOT_SUPPORTED;
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    for (const Mechanism& mechanism : *m_mechanisms) {
        if (mechanism.type == type) {
            *info = CK_MECHANISM_INFO{mechanism.minKeySize, mechanism.maxKeySize, mechanism.flags};
            return CKR_OK;
        }
    }
    return CKR_MECHANISM_INVALID;
}

CK_RV FakeToken::InitToken(CK_SLOT_ID id, const Bytes& pin, const Bytes& label)
{
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if (!m_sessions.empty()) return CKR_SESSION_EXISTS;
    const std::string text(pin.begin(), pin.end());
    m_pins[CKU_SO] = text;
    m_pins[CKU_USER] = text;
    m_userPinInitialized = !m_standardInitToken;
    m_tokenLabel = label;
    m_tokenLabel.resize(kLabelSize, ' ');
    m_objects.clear();
    m_order.clear();
    return CKR_OK;
}

CK_RV FakeToken::SetPin(CK_SESSION_HANDLE session, const Bytes& oldPin, const Bytes& newPin)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!m_loggedIn) return CKR_USER_NOT_LOGGED_IN;
    if (Pin(*m_loggedIn) != std::string(oldPin.begin(), oldPin.end())) return CKR_PIN_INCORRECT;
    m_pins[*m_loggedIn] = std::string(newPin.begin(), newPin.end());
    return CKR_OK;
}

CK_RV FakeToken::InitPin(CK_SESSION_HANDLE session, const Bytes& pin)
{
    const Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (m_loggedIn != CKU_SO) return CKR_USER_NOT_LOGGED_IN;
    if ((s->flags & CKF_RW_SESSION) == 0) return CKR_SESSION_READ_ONLY;
    m_pins[CKU_USER] = std::string(pin.begin(), pin.end());
    m_userPinInitialized = true;
    return CKR_OK;
}

CK_RV FakeToken::OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_SESSION_HANDLE* session)
{
    const Slot* slot = FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (session == nullptr) return CKR_ARGUMENTS_BAD;
    *session = m_nextSession++;
    m_sessions[*session] = Session{id, flags, false, {}, 0, false, false};
    return CKR_OK;
}

CK_RV FakeToken::CloseSession(CK_SESSION_HANDLE session)
{
    if (m_sessions.erase(session) == 0) return CKR_SESSION_HANDLE_INVALID;
    ForgetLoginWhenNoSession();
    return CKR_OK;
}

CK_RV FakeToken::CloseAllSessions(CK_SLOT_ID id)
{
    if (FindSlot(id) == nullptr) return CKR_SLOT_ID_INVALID;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.slot == id ? m_sessions.erase(it) : std::next(it);
    }
    ForgetLoginWhenNoSession();
    return CKR_OK;
}

CK_RV FakeToken::GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info)
{
    const Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    info->slotID = s->slot;
    info->flags = s->flags;
    const bool rw = (s->flags & CKF_RW_SESSION) != 0;
    if (m_loggedIn == CKU_SO) {
        info->state = CKS_RW_SO_FUNCTIONS;
    } else if (m_loggedIn == CKU_USER) {
        info->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    } else {
        info->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
    return CKR_OK;
}

CK_RV FakeToken::Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const Bytes& pin)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (user != CKU_SO && user != CKU_USER) return CKR_USER_TYPE_INVALID;
    if (m_loggedIn) return *m_loggedIn == user ? CKR_USER_ALREADY_LOGGED_IN : CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    if (m_locked[user]) return CKR_PIN_LOCKED;
    if (user == CKU_USER && !m_userPinInitialized) return CKR_USER_PIN_NOT_INITIALIZED;
    if (Pin(user) != std::string(pin.begin(), pin.end())) return CKR_PIN_INCORRECT;
    m_loggedIn = user;
    return CKR_OK;
}

CK_RV FakeToken::Logout(CK_SESSION_HANDLE session)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!m_loggedIn) return CKR_USER_NOT_LOGGED_IN;
    m_loggedIn.reset();
    return CKR_OK;
}

CK_RV FakeToken::CreateObject(CK_SESSION_HANDLE session, const std::vector<Attribute>& attributes,
                              CK_OBJECT_CLASS defaultClass, CK_OBJECT_HANDLE* handle)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (handle == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<Attribute> stored = attributes;
    if (!HasType(stored, CKA_CLASS)) stored.insert(stored.begin(), Ulong(CKA_CLASS, defaultClass));
    *handle = Store(std::move(stored));
    return CKR_OK;
}

CK_RV FakeToken::DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (m_objects.erase(handle) == 0) return CKR_OBJECT_HANDLE_INVALID;
    m_order.erase(std::remove(m_order.begin(), m_order.end(), handle), m_order.end());
    return CKR_OK;
}

CK_RV FakeToken::GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* attributes,
                                   CK_ULONG count)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    auto object = m_objects.find(handle);
    if (object == m_objects.end()) return CKR_OBJECT_HANDLE_INVALID;
    if (attributes == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& wanted = attributes[i];
        const auto& stored = object->second;
        auto it = std::find_if(stored.begin(), stored.end(), [&wanted](const Attribute& a) { return a.type == wanted.type; });
        if (it == stored.end()) {
            wanted.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK) rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (wanted.pValue == nullptr) {
            wanted.ulValueLen = it->value.size();
        } else if (wanted.ulValueLen < it->value.size()) {
            wanted.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK) rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!it->value.empty()) std::memcpy(wanted.pValue, it->value.data(), it->value.size());
            wanted.ulValueLen = it->value.size();
        }
    }
    return rv;
}

CK_RV FakeToken::FindObjectsInit(CK_SESSION_HANDLE session, const std::optional<std::vector<Attribute>>& filter)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (s->searching) return CKR_OPERATION_ACTIVE;
    s->found.clear();
    for (CK_OBJECT_HANDLE handle : m_order) {
        if (!filter || Matches(handle, *filter)) s->found.push_back(handle);
    }
    s->nextFound = 0;
    s->searching = true;
    return CKR_OK;
}

CK_RV FakeToken::FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* handles, CK_ULONG max, CK_ULONG* count)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->searching) return CKR_OPERATION_NOT_INITIALIZED;
    if (count == nullptr || (handles == nullptr && max != 0)) return CKR_ARGUMENTS_BAD;
    *count = 0;
    while (*count < max && s->nextFound < s->found.size()) {
        handles[(*count)++] = s->found[s->nextFound++];
    }
    return CKR_OK;
}

CK_RV FakeToken::FindObjectsFinal(CK_SESSION_HANDLE session)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->searching) return CKR_OPERATION_NOT_INITIALIZED;
    s->searching = false;
    s->found.clear();
    return CKR_OK;
}

CK_RV FakeToken::SignInit(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (s->signing) return CKR_OPERATION_ACTIVE;
    if (!HasObject(key)) return CKR_KEY_HANDLE_INVALID;
    s->signing = true;
    return CKR_OK;
}

CK_RV FakeToken::Sign(CK_SESSION_HANDLE session, CK_BYTE* signature, CK_ULONG* length)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->signing) return CKR_OPERATION_NOT_INITIALIZED;
    bool done = false;
    CK_RV rv = Deliver("C_Sign", signature, length, done);
    // A size query or a too small buffer keeps the operation going; anything else ends it.
    if (done || (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL)) s->signing = false;
    return rv;
}

CK_RV FakeToken::VerifyInit(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (s->verifying) return CKR_OPERATION_ACTIVE;
    if (!HasObject(key)) return CKR_KEY_HANDLE_INVALID;
    s->verifying = true;
    return CKR_OK;
}

CK_RV FakeToken::Verify(CK_SESSION_HANDLE session)
{
    Session* s = FindSession(session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->verifying) return CKR_OPERATION_NOT_INITIALIZED;
    s->verifying = false;
    return CKR_OK;
}

CK_RV FakeToken::LoadCert(CK_SESSION_HANDLE session, const Bytes& p12)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    // Each import gets its own 20-byte identifier, as a key hash would be.
    ++m_loadedKeys;
    Bytes id(20, 0);
    for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<unsigned char>(m_loadedKeys * 31 + i);
    // Storage objects carry a label, empty by default, as on a real token.
    Store({Ulong(CKA_CLASS, CKO_CERTIFICATE), Raw(CKA_LABEL, {}), Raw(CKA_ID, id), Raw(CKA_VALUE, p12)});
    Store({Ulong(CKA_CLASS, CKO_PRIVATE_KEY), Raw(CKA_LABEL, {}), Raw(CKA_ID, id)});
    return CKR_OK;
}

CK_RV FakeToken::LoadX509Cert(CK_SESSION_HANDLE session, const Bytes& label, const Bytes& id, const Bytes& der)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    Bytes text = label;
    if (!text.empty() && text.back() == 0) text.pop_back();
    Store({Ulong(CKA_CLASS, CKO_CERTIFICATE), Raw(CKA_LABEL, text), Raw(CKA_ID, id), Raw(CKA_VALUE, der)});
    return CKR_OK;
}

CK_RV FakeToken::CreateCsr(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey, CK_OBJECT_HANDLE privateKey,
                           CK_BYTE* csr, CK_ULONG* length)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!HasObject(publicKey) || !HasObject(privateKey)) return CKR_KEY_HANDLE_INVALID;
    bool done = false;
    return Deliver("C_KTL_CreateCSR", csr, length, done);
}

CK_RV FakeToken::SignWithCert(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE certificate, CK_BYTE* signature,
                              CK_ULONG* length)
{
    if (FindSession(session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!HasObject(certificate)) return CKR_OBJECT_HANDLE_INVALID;
    bool done = false;
    return Deliver("C_KTL_SignWithCert", signature, length, done);
}

CK_RV FakeToken::Deliver(const std::string& entry, CK_BYTE* out, CK_ULONG* length, bool& done) const
{
    done = false;
    if (length == nullptr) return CKR_ARGUMENTS_BAD;
    auto found = m_outputs.find(entry);
    const Bytes output = found == m_outputs.end() ? Bytes() : found->second;
    auto reported = m_reported.find(entry);
    if (out == nullptr) {
        *length = reported != m_reported.end() ? reported->second : output.size();
        return CKR_OK;
    }
    if (reported == m_reported.end() && *length < output.size()) {
        *length = output.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    // Never more than the caller's buffer holds, whatever length the size query reported.
    CK_ULONG n = std::min<CK_ULONG>(output.size(), *length);
    if (reported != m_reported.end()) n = std::min(n, reported->second);
    if (n != 0) std::memcpy(out, output.data(), n);
    *length = n;
    done = true;
    return CKR_OK;
}

}  // namespace fake
