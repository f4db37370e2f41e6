#pragma once
// What the block cipher families' tests share: secret keys from known values, and encryption
// and decryption through the function list in one piece (with the length query) or in parts.
#include "SoftTokenFixture.h"

#include <initializer_list>
#include <string>

namespace softtoken_test {

class CipherTest : public SoftTokenTest {
protected:
    // A session key of the type and value that may encrypt, decrypt, wrap, unwrap, sign and
    // verify and can be wrapped; extra attributes replace those.
    CK_OBJECT_HANDLE SecretKey(CK_SESSION_HANDLE session, CK_KEY_TYPE keyType, const Bytes& value,
                               std::vector<CK_ATTRIBUTE> extra = {}, CK_RV expected = CKR_OK) {
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        Bytes keyValue = value;
        std::vector<CK_ATTRIBUTE> attributes = {
            {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_VALUE, keyValue.data(), keyValue.size()}};
        for (CK_ATTRIBUTE_TYPE type : {CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP, CKA_EXTRACTABLE}) {
            bool given = false;
            for (const CK_ATTRIBUTE& attribute : extra) given = given || attribute.type == type;
            if (!given) attributes.push_back({type, &Value::True, 1});
        }
        attributes.insert(attributes.end(), extra.begin(), extra.end());
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        EXPECT_RV(expected, f->C_CreateObject(session, attributes.data(), attributes.size(), &key));
        return key;
    }

    // C_Encrypt or C_Decrypt after asking for the length.
    CK_RV OneShot(bool decrypt, CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
                  const Bytes& in, Bytes& out) {
        out.clear();
        CK_RV rv = decrypt ? f->C_DecryptInit(session, &mechanism, key) : f->C_EncryptInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        auto call = decrypt ? f->C_Decrypt : f->C_Encrypt;
        Bytes input = in;
        CK_ULONG length = 0;
        rv = call(session, input.data(), input.size(), nullptr, &length);
        if (rv != CKR_OK) return rv;
        out.assign(length, 0);
        rv = call(session, input.data(), input.size(), out.data(), &length);
        out.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    // The Update and Final calls with the input cut into the pieces (the last takes the rest).
    CK_RV Parts(bool decrypt, CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
                const Bytes& in, std::initializer_list<size_t> pieces, Bytes& out) {
        out.clear();
        CK_RV rv = decrypt ? f->C_DecryptInit(session, &mechanism, key) : f->C_EncryptInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        auto update = decrypt ? f->C_DecryptUpdate : f->C_EncryptUpdate;
        auto final = decrypt ? f->C_DecryptFinal : f->C_EncryptFinal;
        out.clear();
        Bytes input = in;
        size_t done = 0;
        std::vector<size_t> cuts(pieces);
        cuts.push_back(input.size());
        for (size_t piece : cuts) {
            const size_t length = std::min(piece, input.size() - done);
            Bytes part(length + 64);
            CK_ULONG partLength = part.size();
            rv = update(session, input.data() + done, length, part.data(), &partLength);
            if (rv != CKR_OK) return rv;
            out.insert(out.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(partLength));
            done += length;
        }
        Bytes last(input.size() + 64);
        CK_ULONG lastLength = last.size();
        rv = final(session, last.data(), &lastLength);
        if (rv == CKR_OK) out.insert(out.end(), last.begin(), last.begin() + static_cast<std::ptrdiff_t>(lastLength));
        return rv;
    }
};

}  // namespace softtoken_test
