// Exported entries for encryption and decryption, in one piece or in parts.
#include "entries/OperationEntries.h"

using namespace softtoken;

namespace {

using Active = ActiveOperation<CipherOperation>;
using Call = Active::Call;

Active Session::*OperationOf(bool decrypt) { return decrypt ? &Session::decrypting : &Session::encrypting; }

CK_RV Init(Module& module, CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE keyHandle,
           bool decrypt) {
    Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
    Session& session = module.SessionAt(handle);
    Active& active = session.*OperationOf(decrypt);
    const KeyUse use = decrypt ? KeyUse::Decrypt : KeyUse::Encrypt;
    auto [row, key] =
        StartWithKey(module, session, active, *mechanism, decrypt ? CKF_DECRYPT : CKF_ENCRYPT, keyHandle, use);
    OperationEnd<CipherOperation> end(active);
    Require(row->cipher != nullptr, CKR_MECHANISM_INVALID);
    active.operation = row->cipher(*mechanism, *key, use);
    active.secretOutput = decrypt;
    end.Keep();
    return CKR_OK;
}

CK_RV OneShot(Module& module, CK_SESSION_HANDLE handle, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
              CK_ULONG_PTR outLength, bool decrypt) {
    RequireArguments((in != nullptr || inLength == 0) && outLength != nullptr, module, handle, OperationOf(decrypt));
    Session& session = module.OperationSessionAt(handle);
    Active& active = Started(session.*OperationOf(decrypt));
    OperationEnd<CipherOperation> end(active);
    Require(!active.started, CKR_OPERATION_ACTIVE);
    const size_t bound = active.operation->OneShotBound(inLength);
    if (active.pendingCall == Call::None && out != nullptr && bound != 0 && *outLength >= bound) {
        *outLength = static_cast<CK_ULONG>(active.operation->OneShotInto(in, inLength, out));
        return CKR_OK;
    }
    CK_RV rv = CKR_OK;
    if (!GiveOutput(active, Call::OneShot, [&] { return active.operation->OneShot(in, inLength); }, out, outLength, rv))
        if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) {
            active.oneShotAsked = true;
            end.Keep();
        }
    return rv;
}

CK_RV Update(Module& module, CK_SESSION_HANDLE handle, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
             CK_ULONG_PTR outLength, bool decrypt) {
    RequireArguments((in != nullptr || inLength == 0) && outLength != nullptr, module, handle, OperationOf(decrypt));
    Session& session = module.OperationSessionAt(handle);
    Active& active = Started(session.*OperationOf(decrypt));
    RequireMultiPart(active);
    OperationEnd<CipherOperation> end(active);
    Require(active.operation->AllowsMultiPart(), CKR_FUNCTION_NOT_SUPPORTED);
    active.started = true;
    CK_RV rv = CKR_OK;
    GiveOutput(active, Call::Update, [&] { return active.operation->Update(in, inLength); }, out, outLength, rv);
    if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) end.Keep();
    return rv;
}

CK_RV Final(Module& module, CK_SESSION_HANDLE handle, CK_BYTE_PTR out, CK_ULONG_PTR outLength, bool decrypt) {
    RequireArguments(outLength != nullptr, module, handle, OperationOf(decrypt));
    Session& session = module.OperationSessionAt(handle);
    Active& active = Started(session.*OperationOf(decrypt));
    RequireMultiPart(active);
    OperationEnd<CipherOperation> end(active);
    Require(active.operation->AllowsMultiPart(), CKR_FUNCTION_NOT_SUPPORTED);
    CK_RV rv = CKR_OK;
    if (!GiveOutput(active, Call::Final, [&] { return active.operation->Final(); }, out, outLength, rv))
        if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL) end.Keep();
    return rv;
}

}  // namespace

extern "C" {

CK_RV C_EncryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return Guarded([&](Module& module) { return Init(module, handle, mechanism, key, false); });
}
CK_RV C_Encrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR encrypted,
                CK_ULONG_PTR encryptedLength) {
    return Guarded([&](Module& m) { return OneShot(m, handle, data, dataLength, encrypted, encryptedLength, false); });
}
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG partLength, CK_BYTE_PTR encrypted,
                      CK_ULONG_PTR encryptedLength) {
    return Guarded([&](Module& m) { return Update(m, handle, part, partLength, encrypted, encryptedLength, false); });
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR encrypted, CK_ULONG_PTR encryptedLength) {
    return Guarded([&](Module& m) { return Final(m, handle, encrypted, encryptedLength, false); });
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return Guarded([&](Module& module) { return Init(module, handle, mechanism, key, true); });
}
CK_RV C_Decrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR encrypted, CK_ULONG encryptedLength, CK_BYTE_PTR data,
                CK_ULONG_PTR dataLength) {
    return Guarded([&](Module& m) { return OneShot(m, handle, encrypted, encryptedLength, data, dataLength, true); });
}
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR encrypted, CK_ULONG encryptedLength, CK_BYTE_PTR data,
                      CK_ULONG_PTR dataLength) {
    return Guarded([&](Module& m) { return Update(m, handle, encrypted, encryptedLength, data, dataLength, true); });
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG_PTR dataLength) {
    return Guarded([&](Module& m) { return Final(m, handle, data, dataLength, true); });
}

}  // extern "C"
