#pragma once
// The mechanisms the token implements: one row each, with its true key sizes and flags and
// the factories of its operations. Each family (mechanisms/<family>/) keeps its own rows;
// adding a mechanism is one row and its operation class.
#include "mechanisms/CipherOperation.h"
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"

#include <memory>
#include <utility>
#include <vector>

namespace softtoken {

// What a key is used for, with the attribute that must allow it.
enum class KeyUse { Sign, Verify, Encrypt, Decrypt, Wrap, Unwrap, Derive };

// The keys a mechanism takes: a pair's private half for Sign, Decrypt, Unwrap and Derive and
// its public half for the rest, or a secret key for everything. None: no key (digests).
enum class KeyKind { None, Pair, Secret };

struct MechanismRow {
    using SignFactory = std::unique_ptr<SignOperation> (*)(const CK_MECHANISM&, Object& key, KeyUse use);
    using CipherFactory = std::unique_ptr<CipherOperation> (*)(const CK_MECHANISM&, Object& key, KeyUse use);
    using DigestFactory = std::unique_ptr<SignOperation> (*)(const CK_MECHANISM&);
    // Key generation: the template as parsed; the result has passed ObjectPolicy::Complete.
    using KeyGenerator = Object (*)(const CK_MECHANISM&, Object::Map keyTemplate);
    using PairGenerator = std::pair<Object, Object> (*)(const CK_MECHANISM&, Object::Map publicTemplate,
                                                        Object::Map privateTemplate);
    // The derived secret's bytes from the base key (the entry makes the key object).
    using Deriver = Bytes (*)(const CK_MECHANISM&, Object& baseKey);

    CK_MECHANISM_TYPE type;
    CK_MECHANISM_INFO info;
    KeyKind keyKind;
    CK_KEY_TYPE keyType;  // the key type Init calls demand (ignored for KeyKind::None)
    SignFactory sign;        // sign and verify (CKF_SIGN, CKF_VERIFY)
    CipherFactory cipher;    // encrypt, decrypt, wrap, unwrap (CKF_ENCRYPT ... CKF_UNWRAP)
    DigestFactory digest;    // CKF_DIGEST
    KeyGenerator generate;   // CKF_GENERATE
    PairGenerator generatePair;  // CKF_GENERATE_KEY_PAIR
    Deriver derive;          // CKF_DERIVE
};

// A family's rows: a constant array, so nothing is destroyed at exit while hosts may still ask.
struct MechanismRows {
    const MechanismRow* rows;
    size_t count;
};

class MechanismTable {
public:
    static std::vector<CK_MECHANISM_TYPE> Types();
    // False when the token does not implement the mechanism.
    static bool Info(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info);
    // The row of a mechanism that has every one of the flags; CKR_MECHANISM_INVALID otherwise.
    static const MechanismRow& Require(const CK_MECHANISM& mechanism, CK_FLAGS needed);
    // Checks the key's class and type against the row (CKR_KEY_TYPE_INCONSISTENT) and the
    // attribute that allows the use (CKR_KEY_FUNCTION_NOT_PERMITTED).
    static void CheckKey(const MechanismRow& row, const Object& key, KeyUse use);
};

// The families' rows, each defined in its own folder.
MechanismRows RsaMechanisms();
MechanismRows GostMechanisms();
MechanismRows DigestMechanisms();
MechanismRows HmacMechanisms();
MechanismRows AesMechanisms();
MechanismRows DesMechanisms();
MechanismRows EcMechanisms();

template <size_t N>
constexpr MechanismRows RowsOf(const MechanismRow (&rows)[N]) {
    return {rows, N};
}

}  // namespace softtoken
