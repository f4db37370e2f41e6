// Exported entries for message digests, C_DigestKey included.
#include "entries/OperationEntries.h"

using namespace softtoken;

namespace {

using Active = ActiveOperation<SignOperation>;

}  // namespace

extern "C" {

CK_RV C_DigestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        Active& active = session.digesting;
        Require(!active.Active(), CKR_OPERATION_ACTIVE);
        const MechanismRow& row = MechanismTable::Require(*mechanism, CKF_DIGEST);
        Require(row.digest != nullptr, CKR_MECHANISM_INVALID);
        active.Reset();
        active.operation = row.digest(*mechanism);
        return CKR_OK;
    });
}

CK_RV C_Digest(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR digest,
               CK_ULONG_PTR digestLength) {
    return Guarded([&](Module& module) {
        RequireArguments((data != nullptr || dataLength == 0) && digestLength != nullptr, module, handle,
                         &Session::digesting);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.digesting);
        if (active.started) {
            active.Reset();
            throw Pkcs11Error(CKR_OPERATION_ACTIVE);
        }
        if (digest == nullptr || *digestLength < active.operation->ResultLength()) {
            active.oneShotAsked = true;
            return FinishByLength(active, digest, digestLength);
        }
        OperationEnd<SignOperation> end(active);
        active.operation->Update(data, dataLength);
        end.Keep();
        return FinishByLength(active, digest, digestLength);
    });
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
    return Guarded([&](Module& module) {
        RequireArguments(part != nullptr || length == 0, module, handle, &Session::digesting);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.digesting);
        RequireMultiPart(active);
        OperationEnd<SignOperation> end(active);
        active.operation->Update(part, length);
        active.started = true;
        end.Keep();
        return CKR_OK;
    });
}

// Digests a secret key's value, whatever its sensitivity: the digest does not reveal it.
CK_RV C_DigestKey(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE keyHandle) {
    return Guarded([&](Module& module) {
        Session& session = module.SessionAt(handle);
        Active& active = Started(session.digesting);
        RequireMultiPart(active);
        OperationEnd<SignOperation> end(active);
        std::shared_ptr<Object> key = module.TokenOf(session).Find(keyHandle);
        Require(key != nullptr, CKR_KEY_HANDLE_INVALID);
        Require(key->Class() == CKO_SECRET_KEY && key->Has(CKA_VALUE), CKR_KEY_INDIGESTIBLE);
        const Bytes& value = key->Get(CKA_VALUE);
        active.operation->Update(value.data(), value.size());
        active.started = true;
        end.Keep();
        return CKR_OK;
    });
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR digest, CK_ULONG_PTR digestLength) {
    return Guarded([&](Module& module) {
        RequireArguments(digestLength != nullptr, module, handle, &Session::digesting);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.digesting);
        RequireMultiPart(active);
        return FinishByLength(active, digest, digestLength);
    });
}

}  // extern "C"
