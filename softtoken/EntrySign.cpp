// Exported entries for key generation, signing and verification.
#include "EntryGuard.h"
#include "KeyFactory.h"
#include "MechanismTable.h"
#include "ObjectPolicy.h"

using namespace softtoken;

namespace {

std::shared_ptr<Object> KeyAt(Module& module, const Session& session, CK_OBJECT_HANDLE handle) {
    std::shared_ptr<Object> key = module.TokenOf(session).Find(handle);
    Require(key != nullptr, CKR_KEY_HANDLE_INVALID);
    return key;
}

void CheckMechanism(const CK_MECHANISM& mechanism, CK_FLAGS needed) {
    CK_MECHANISM_INFO info{};
    Require(MechanismTable::Info(mechanism.mechanism, info) && (info.flags & needed) != 0, CKR_MECHANISM_INVALID);
}

// Refuses, before any key is generated, what the session could not store: token objects
// in a read-only session, private objects without the user.
void CheckMayStore(const Session& session, const Token& token, const Object::Map& attributes,
                   bool privateByDefault) {
    const Object object(attributes);
    if (object.Bool(CKA_TOKEN, false)) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
    if (object.Bool(CKA_PRIVATE, privateByDefault)) Require(token.State() == Token::Login::User, CKR_USER_NOT_LOGGED_IN);
}

std::unique_ptr<SignOperation>& OperationOf(Session& session, bool verify) {
    return verify ? session.verifying : session.signing;
}

CK_RV Init(Module& module, CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE keyHandle,
           bool verify) {
    Require(mechanism != nullptr, CKR_ARGUMENTS_BAD);
    Session& session = module.SessionAt(handle);
    std::unique_ptr<SignOperation>& operation = OperationOf(session, verify);
    Require(operation == nullptr, CKR_OPERATION_ACTIVE);
    std::shared_ptr<Object> key = KeyAt(module, session, keyHandle);
    CheckMechanism(*mechanism, verify ? CKF_VERIFY : CKF_SIGN);
    operation = std::make_unique<SignOperation>(*mechanism, std::move(key), verify);
    return CKR_OK;
}

SignOperation& ActiveOperation(Session& session, bool verify) {
    std::unique_ptr<SignOperation>& operation = OperationOf(session, verify);
    Require(operation != nullptr, CKR_OPERATION_NOT_INITIALIZED);
    return *operation;
}

// Ends the operation unless the call only asked for the length (or gave a short buffer).
class OperationEnd {
public:
    OperationEnd(Session& session, bool verify) : m_operation(OperationOf(session, verify)) {}
    ~OperationEnd() {
        if (!m_keep) m_operation.reset();
    }
    void Keep() { m_keep = true; }

private:
    std::unique_ptr<SignOperation>& m_operation;
    bool m_keep = false;
};

CK_RV Finish(Session& session, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    OperationEnd end(session, false);
    SignOperation& operation = *session.signing;
    const size_t length = operation.SignatureLength();
    if (signature == nullptr || *signatureLength < length) {
        const CK_RV rv = signature == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
        *signatureLength = length;
        end.Keep();
        return rv;
    }
    const Bytes result = operation.Sign();
    return ToCaller(result, signature, signatureLength);
}

CK_RV Update(Module& module, CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length, bool verify) {
    Require(part != nullptr || length == 0, CKR_ARGUMENTS_BAD);
    Session& session = module.SessionAt(handle);
    SignOperation& operation = ActiveOperation(session, verify);
    OperationEnd end(session, verify);
    // Mechanisms that take their input in one piece have no multi-part form.
    Require(operation.AllowsMultiPart(), CKR_FUNCTION_NOT_SUPPORTED);
    operation.Update(part, length);
    operation.MarkStarted();
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
        Require((data != nullptr || dataLength == 0) && signatureLength != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        SignOperation& operation = ActiveOperation(session, false);
        if (operation.Started()) {
            session.signing.reset();
            throw Pkcs11Error(CKR_OPERATION_ACTIVE);
        }
        if (signature == nullptr || *signatureLength < operation.SignatureLength()) {
            return Finish(session, signature, signatureLength);
        }
        operation.Update(data, dataLength);
        return Finish(session, signature, signatureLength);
    });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
    return Guarded([&](Module& module) { return Update(module, handle, part, length, false); });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
    return Guarded([&](Module& module) {
        Require(signatureLength != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        ActiveOperation(session, false);
        return Finish(session, signature, signatureLength);
    });
}

CK_RV C_VerifyInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return Guarded([&](Module& module) { return Init(module, handle, mechanism, key, true); });
}

CK_RV C_Verify(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
               CK_ULONG signatureLength) {
    return Guarded([&](Module& module) {
        Require((data != nullptr || dataLength == 0) && (signature != nullptr || signatureLength == 0),
                CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        SignOperation& operation = ActiveOperation(session, true);
        OperationEnd end(session, true);
        Require(!operation.Started(), CKR_OPERATION_ACTIVE);
        operation.Update(data, dataLength);
        return operation.Verify(FromCaller(signature, signatureLength));
    });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
    return Guarded([&](Module& module) { return Update(module, handle, part, length, true); });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature, CK_ULONG signatureLength) {
    return Guarded([&](Module& module) {
        Require(signature != nullptr || signatureLength == 0, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        SignOperation& operation = ActiveOperation(session, true);
        OperationEnd end(session, true);
        return operation.Verify(FromCaller(signature, signatureLength));
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
        CheckMechanism(*mechanism, CKF_GENERATE_KEY_PAIR);
        Object::Map publicAttributes = ObjectPolicy::ParseTemplate(publicTemplate, publicCount);
        Object::Map privateAttributes = ObjectPolicy::ParseTemplate(privateTemplate, privateCount);
        CheckMayStore(session, module.TokenOf(session), publicAttributes, false);
        CheckMayStore(session, module.TokenOf(session), privateAttributes, true);
        auto [publicObject, privateObject] =
            KeyFactory::GenerateKeyPair(*mechanism, std::move(publicAttributes), std::move(privateAttributes));
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
        CheckMechanism(*mechanism, CKF_GENERATE);
        Object::Map attributes = ObjectPolicy::ParseTemplate(keyTemplate, count);
        CheckMayStore(session, module.TokenOf(session), attributes, true);
        Object secret = KeyFactory::GenerateSecretKey(*mechanism, std::move(attributes));
        if (secret.IsTokenObject()) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
        else secret.owner = handle;
        *key = module.TokenOf(session).Add(std::move(secret));
        return CKR_OK;
    });
}

}  // extern "C"
