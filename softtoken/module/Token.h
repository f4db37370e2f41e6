#pragma once
// The token in one slot: its record in the store, the login state of this process, the
// token key while someone is logged in, and the objects it holds (token objects cached from
// the store, session objects in memory). All of it belongs to one generation of the token:
// when another process re-initialises it, this process's login and objects are dropped.
#include "objects/Object.h"
#include "store/ObjectStore.h"

#include <map>
#include <memory>
#include <optional>

namespace softtoken {

class Token {
public:
    enum class Login { None, User, SecurityOfficer };

    static constexpr CK_ULONG kMinPinLength = 4;
    static constexpr CK_ULONG kMaxPinLength = 32;
    static constexpr long long kMaxFailures = 10;

    Token(CK_SLOT_ID slot, ObjectStore& store);
    ~Token();  // wipes the token key
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;

    CK_SLOT_ID Slot() const { return m_slot; }
    Login State() const { return m_login; }
    // The generation this process's view belongs to; sessions opened in it carry it.
    long long Generation() const { return m_generation; }
    // Follows a re-initialisation by another process (dropping login and objects); costs one
    // PRAGMA data_version when nothing changed.
    void FollowGeneration();
    // Reloads the token objects when another process has committed changes. Meant for calls
    // of a session: a re-initialisation found here answers CKR_SESSION_HANDLE_INVALID.
    void Refresh();
    // The store's connection changed: the next Refresh reloads.
    void ForgetVersion() {
        m_version = -1;
        m_generationVersion = -1;
    }
    void FillInfo(CK_TOKEN_INFO& info, CK_ULONG sessions, CK_ULONG rwSessions);

    void Initialize(const Bytes& soPin, const Bytes& label);
    void LogIn(CK_USER_TYPE user, const Bytes& pin);
    // C_Login(CKU_CONTEXT_SPECIFIC): the logged-in user's PIN, with its failure count.
    void ConfirmUserPin(const Bytes& pin);
    void LogOut();
    void InitUserPin(const Bytes& pin);
    // Changes the PIN of whoever is logged in, or the user PIN when nobody is.
    void ChangePin(const Bytes& oldPin, const Bytes& newPin);

    // Objects: handles of token objects are their store rows; session objects get their own
    // range below 2^31.
    // Private objects need the user; a token object's sealed part is opened on first need,
    // which needs the token key. Both open what they hand out or match on.
    std::shared_ptr<Object> Find(CK_OBJECT_HANDLE handle);  // visible objects only, else null
    std::vector<CK_OBJECT_HANDLE> Search(const Object::Map& query);
    CK_OBJECT_HANDLE Add(Object object);
    // Adds several objects at once: all of them or, on failure, none.
    std::vector<CK_OBJECT_HANDLE> AddAll(std::vector<Object> objects);
    void Update(CK_OBJECT_HANDLE handle, Object changed);
    void Destroy(CK_OBJECT_HANDLE handle);
    void DestroySessionObjects(CK_SESSION_HANDLE session);
    void DestroyAllSessionObjects();
    // Checks who may create or change an object of this kind here (private needs the user,
    // the security officer makes public objects only).
    void CheckMayWrite(const Object& object) const;

    static bool IsValidPinLength(const Bytes& pin);
    static void CheckPinLength(const Bytes& pin);

private:
    struct PinSlot {
        Bytes* salt;
        Bytes* verifier;
        Bytes* wrappedKey;
        long long* failures;
        const char* context;
    };
    PinSlot PinOf(Login who);
    static PinOwner OwnerOf(Login who);
    // Inside a write transaction: reads the record as stored; a record of another generation
    // ends the call with CKR_SESSION_HANDLE_INVALID before anything is written.
    void LoadCurrentRecord();
    void RequireCurrentGeneration();  // the same, reading the generation only
    // Adopts the store's generation; true when it differed (login and objects dropped).
    bool Observe(long long generation);
    // Inside a write transaction, on the record just read: the token key for the right PIN,
    // the failure count kept. A wrong PIN commits the count and answers CKR_PIN_INCORRECT.
    Bytes Unlock(Login who, const Bytes& pin, StoreTransaction& transaction);
    // A new PIN's salt and PBKDF2 secret, derived before the write transaction so that the
    // store is held only while the old PIN is checked. Wipes the secret when it goes.
    struct DerivedPin {
        Bytes salt;
        Bytes secret;
        long long iterations = 0;
        ~DerivedPin();
    };
    static void Derive(DerivedPin& derived, const Bytes& pin, long long iterations);
    // The derivation again when the record asks for another iteration count.
    void MatchIterations(DerivedPin& derived, const Bytes& pin) const;
    void SealPin(Login who, const DerivedPin& pin, const Bytes& tokenKey);  // into m_record only
    void SavePin(Login who);                                            // m_record's PIN to the store
    void NewIdentity(const Bytes& label);
    void Reload();
    CK_OBJECT_HANDLE NextSessionObject();  // never handed out before in this process
    std::shared_ptr<Object> FromStore(const StoredObject& stored) const;
    bool IsVisible(Object& object) const;
    // Whether the object's clear attributes leave it a candidate for the query.
    static bool MayMatch(const Object& object, const Object::Map& query);
    bool OpenSealed(Object& object) const;  // true when the sealed part is (now) in the map
    void CloseSealed(Object& object) const;
    std::pair<Bytes, Bytes> Split(const Object& object) const;
    Bytes SealContext() const;
    void Forget();

    CK_SLOT_ID m_slot;
    ObjectStore& m_store;
    TokenRecord m_record;
    long long m_generation = -1;
    long long m_version = -1;            // data version the object cache was loaded at
    long long m_generationVersion = -1;  // data version the generation was last read at
    Login m_login = Login::None;
    Bytes m_tokenKey;
    std::map<CK_OBJECT_HANDLE, std::shared_ptr<Object>> m_objects;
    CK_OBJECT_HANDLE m_nextSessionObject;
};

}  // namespace softtoken
