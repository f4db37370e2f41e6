// Exported entries for signing and verification, MACs included, and key generation.
#include "entries/OperationEntries.h"
#include "objects/ObjectPolicy.h"

using namespace softtoken;

namespace {

using Active = ActiveOperation<SignOperation>;

// Refuses, before any key is generated, what the session could not store: token objects
// in a read-only session, private objects without the user.
void CheckMayStore(const Session& session, const Token& token, const Object::Map& attributes,
                   bool privateByDefault) {
    const Object object(attributes);
    if (object.Bool(CKA_TOKEN, false)) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
    if (object.Bool(CKA_PRIVATE, privateByDefault)) Require(token.State() == Token::Login::User, CKR_USER_NOT_LOGGED_IN);
}

Active& OperationOf(Session& session, bool verify) { return verify ? session.verifying : session.signing; }

CK_RV Init(Module& module, CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE keyHandle,
           bool verify) {
    Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
    Session& session = module.SessionAt(handle);
    Active& active = OperationOf(session, verify);
    const KeyUse use = verify ? KeyUse::Verify : KeyUse::Sign;
    auto [row, key] = StartWithKey(module, session, active, *mechanism, verify ? CKF_VERIFY : CKF_SIGN, keyHandle, use);
    OperationEnd<SignOperation> end(active);
    Require(row->sign != nullptr, CKR_MECHANISM_INVALID);
    active.operation = row->sign(*mechanism, *key, use);
    end.Keep();
    return CKR_OK;
}

CK_RV Update(Module& module, CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length, Active Session::*of) {
    RequireArguments(part != nullptr || length == 0, module, handle, of);
    Session& session = module.OperationSessionAt(handle);
    Active& active = Started(session.*of);
    RequireMultiPart(active);
    OperationEnd<SignOperation> end(active);
    // Mechanisms that take their input in one piece have no multi-part form.
    Require(active.operation->AllowsMultiPart(), CKR_FUNCTION_NOT_SUPPORTED);
    active.operation->Update(part, length);
    active.started = true;
    end.Keep();
    return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return Guarded([&](Module& module) { return Init(module, handle, mechanism, key, false); });
}

CK_RV C_Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
             CK_ULONG_PTR signatureLength) {
    return Guarded([&](Module& module) {
        RequireArguments((data != nullptr || dataLength == 0) && signatureLength != nullptr, module, handle,
                         &Session::signing);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.signing);
        if (active.started) {
            active.Reset();
            throw Pkcs11Error(CKR_OPERATION_ACTIVE);
        }
        if (signature == nullptr || *signatureLength < active.operation->ResultLength()) {
            active.oneShotAsked = true;
            return FinishByLength(active, signature, signatureLength);
        }
        OperationEnd<SignOperation> end(active);
        active.operation->Update(data, dataLength);
        end.Keep();
        return FinishByLength(active, signature, signatureLength);
    });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
    return Guarded([&](Module& module) { return Update(module, handle, part, length, &Session::signing); });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    return Guarded([&](Module& module) {
        RequireArguments(signatureLength != nullptr, module, handle, &Session::signing);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.signing);
        RequireMultiPart(active);
        return FinishByLength(active, signature, signatureLength);
    });
}

CK_RV C_VerifyInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return Guarded([&](Module& module) { return Init(module, handle, mechanism, key, true); });
}

CK_RV C_Verify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
               CK_ULONG signatureLength) {
    return Guarded([&](Module& module) {
        RequireArguments((data != nullptr || dataLength == 0) && (signature != nullptr || signatureLength == 0),
                         module, handle, &Session::verifying);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.verifying);
        OperationEnd<SignOperation> end(active);
        Require(!active.started, CKR_OPERATION_ACTIVE);
        active.operation->Update(data, dataLength);
        return active.operation->Verify(FromCaller(signature, signatureLength));
    });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
    return Guarded([&](Module& module) { return Update(module, handle, part, length, &Session::verifying); });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG signatureLength) {
    return Guarded([&](Module& module) {
        RequireArguments(signature != nullptr || signatureLength == 0, module, handle, &Session::verifying);
        Session& session = module.OperationSessionAt(handle);
        Active& active = Started(session.verifying);
        OperationEnd<SignOperation> end(active);
        return active.operation->Verify(FromCaller(signature, signatureLength));
    });
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                        CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                        CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr && publicKey != nullptr && privateKey != nullptr &&
                    (publicTemplate != nullptr || publicCount == 0) && (privateTemplate != nullptr || privateCount == 0),
                CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        const MechanismRow& row = MechanismTable::Require(*mechanism, CKF_GENERATE_KEY_PAIR);
        Require(row.generatePair != nullptr, CKR_MECHANISM_INVALID);
        Object::Map publicAttributes = ObjectPolicy::ParseTemplate(publicTemplate, publicCount);
        Object::Map privateAttributes = ObjectPolicy::ParseTemplate(privateTemplate, privateCount);
        CheckMayStore(session, module.TokenOf(session), publicAttributes, false);
        CheckMayStore(session, module.TokenOf(session), privateAttributes, true);
        auto [publicObject, privateObject] =
            row.generatePair(*mechanism, std::move(publicAttributes), std::move(privateAttributes));
        Token& token = module.TokenOf(session);
        std::vector<Object> pair;
        for (Object* key : {&publicObject, &privateObject}) {
            if (key->IsTokenObject()) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
            else key->owner = handle;
            pair.push_back(std::move(*key));
        }
        std::vector<CK_OBJECT_HANDLE> handles = token.AddAll(std::move(pair));
        *publicKey = handles[0];
        *privateKey = handles[1];
        return CKR_OK;
    });
}

CK_RV C_GenerateKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR keyTemplate,
                    CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr && key != nullptr && (keyTemplate != nullptr || count == 0), CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        const MechanismRow& row = MechanismTable::Require(*mechanism, CKF_GENERATE);
        Require(row.generate != nullptr, CKR_MECHANISM_INVALID);
        Object::Map attributes = ObjectPolicy::ParseTemplate(keyTemplate, count);
        CheckMayStore(session, module.TokenOf(session), attributes, true);
        Object secret = row.generate(*mechanism, std::move(attributes));
        *key = AddForSession(module, session, std::move(secret));
        return CKR_OK;
    });
}

}  // extern "C"
