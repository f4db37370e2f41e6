#pragma once
// What every exported entry point shares: the lock, the initialisation check, and the
// conversion of any exception into a return code, so no call ever ends the host process.
#include "module/Module.h"
#include "crypto/CryptoError.h"

#include <cstring>
#include <new>

namespace softtoken {

template <typename Body>
CK_RV Guarded(Body&& body) noexcept {
    try {
        std::lock_guard<std::mutex> lock(Module::Lock());
        Module* module = Module::Instance();
        Require(module != nullptr && module->IsInitialized(), CKR_CRYPTOKI_NOT_INITIALIZED);
        return body(*module);
    } catch (const Pkcs11Error& error) {
        return error.Rv();
    } catch (const crypto::CryptoError& error) {
        return error.Rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// A copy of a caller's buffer; a null pointer is allowed only with length 0.
inline Bytes FromCaller(const void* data, CK_ULONG length) {
    Require(data != nullptr || length == 0, CKR_ARGUMENTS_BAD);
    const auto* bytes = static_cast<const unsigned char*>(data);
    return length ? Bytes(bytes, bytes + length) : Bytes();
}

// The length protocol: a null buffer asks for the length, a short one gets
// CKR_BUFFER_TOO_SMALL and the length, a large enough one the value.
inline CK_RV ToCaller(const Bytes& value, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    if (out == nullptr) {
        *outLength = value.size();
        return CKR_OK;
    }
    if (*outLength < value.size()) {
        *outLength = value.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!value.empty()) std::memcpy(out, value.data(), value.size());
    *outLength = value.size();
    return CKR_OK;
}

}  // namespace softtoken
