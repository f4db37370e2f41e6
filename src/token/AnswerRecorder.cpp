#include "token/AnswerRecorder.h"

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

#include "support/ModuleAnswers.h"
#include "support/PkcsNames.h"
#include "token/FunctionListEntries.h"

namespace {

using function_list::EntryOf;

template <auto A, auto B>
constexpr bool Is()
{
    if constexpr (std::is_same_v<decltype(A), decltype(B)>) {
        return A == B;
    } else {
        return false;
    }
}

bool RefusesPin(CK_RV rv) { return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_INVALID || rv == CKR_PIN_LEN_RANGE; }

std::string Mechanism(const CK_MECHANISM* mechanism)
{
    return mechanism == nullptr ? "no mechanism" : CPkcsNames::OrHex(CPkcsNames::Mechanism(mechanism->mechanism),
                                                                     mechanism->mechanism);
}

// The CK_ULONG value of an attribute of the template, when it has one of that size.
bool UlongValue(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type, CK_ULONG& value)
{
    for (CK_ULONG i = 0; attributes != nullptr && i < count; ++i) {
        if (attributes[i].type == type && attributes[i].pValue != nullptr &&
            attributes[i].ulValueLen == sizeof(CK_ULONG)) {
            std::memcpy(&value, attributes[i].pValue, sizeof(value));
            return true;
        }
    }
    return false;
}

// The kind of object a template describes: its class and its key or certificate type.
std::string ObjectKind(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    std::string kind;
    CK_ULONG value = 0;
    if (UlongValue(attributes, count, CKA_CLASS, value)) {
        kind = CPkcsNames::OrHex(CPkcsNames::ObjectClass(value), value);
    }
    const auto add = [&kind](const std::string& text) { kind += (kind.empty() ? "" : ", ") + text; };
    if (UlongValue(attributes, count, CKA_KEY_TYPE, value)) {
        add(CPkcsNames::OrHex(CPkcsNames::KeyType(value), value));
    }
    if (UlongValue(attributes, count, CKA_CERTIFICATE_TYPE, value)) {
        add(CPkcsNames::OrHex(CPkcsNames::CertificateType(value), value));
    }
    return kind;
}

std::string AttributeTypes(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    std::string types;
    for (CK_ULONG i = 0; attributes != nullptr && i < count; ++i) {
        types += (i == 0 ? "" : ", ") + CPkcsNames::OrHex(CPkcsNames::Attribute(attributes[i].type),
                                                          attributes[i].type);
    }
    return types;
}

// What tells this call of the entry from others of the same entry in a pass: the user type,
// the mechanism, the kind of object or the attributes asked for.
template <auto Member, typename... Args>
std::string Details(Args... args)
{
    const std::tuple<Args...> arg(args...);
    if constexpr (Is<Member, &CK_FUNCTION_LIST::C_Login>()) {
        return CPkcsNames::OrHex(CPkcsNames::UserType(std::get<1>(arg)), std::get<1>(arg));
    } else if constexpr (Is<Member, &CK_FUNCTION_LIST::C_GetMechanismInfo>()) {
        return CPkcsNames::OrHex(CPkcsNames::Mechanism(std::get<1>(arg)), std::get<1>(arg));
    } else if constexpr (Is<Member, &CK_FUNCTION_LIST::C_CreateObject>() ||
                         Is<Member, &CK_FUNCTION_LIST::C_FindObjectsInit>()) {
        return ObjectKind(std::get<1>(arg), std::get<2>(arg));
    } else if constexpr (Is<Member, &CK_FUNCTION_LIST::C_GetAttributeValue>() ||
                         Is<Member, &CK_FUNCTION_LIST::C_SetAttributeValue>()) {
        return AttributeTypes(std::get<2>(arg), std::get<3>(arg));
    } else if constexpr (sizeof...(Args) >= 2) {
        if constexpr (std::is_same_v<std::tuple_element_t<1, std::tuple<Args...>>, CK_MECHANISM_PTR>) {
            return Mechanism(std::get<1>(arg));
        }
        return std::string();
    } else {
        return std::string();
    }
}

template <auto Member, typename... Args>
std::optional<CK_USER_TYPE> RefusedPin(CK_RV rv, Args... args)
{
    if (!RefusesPin(rv)) {
        return std::nullopt;
    }
    if constexpr (Is<Member, &CK_FUNCTION_LIST::C_InitToken>()) {
        return CKU_SO;
    } else if constexpr (Is<Member, &CK_FUNCTION_LIST::C_Login>()) {
        return std::get<1>(std::tuple<Args...>(args...));
    } else {
        return std::nullopt;
    }
}

// The wrapper of one entry. Recording never changes the answer, and nothing is thrown
// through the module's C interface.
template <auto Member, typename = decltype(Member)>
struct Recorded;

template <auto Member, typename Owner, typename... Args>
struct Recorded<Member, CK_RV (*Owner::*)(Args...)> {
    static inline const char* name = nullptr;
    static inline CK_RV (*module)(Args...) = nullptr;

    static void Note(CK_RV rv, bool missing, Args... args) noexcept
    {
        try {
            const std::string details = missing ? std::string() : Details<Member>(args...);
            CModuleAnswers::Record({std::string(name) + (details.empty() ? "" : " (" + details + ")"), rv, missing,
                                    RefusedPin<Member>(rv, args...)});
        } catch (...) {
        }
    }

    static CK_RV Call(Args... args)
    {
        const CK_RV rv = module(args...);
        if (rv != CKR_OK) {
            Note(rv, false, args...);
        }
        return rv;
    }

    static CK_RV Missing(Args... args)
    {
        Note(CKR_FUNCTION_NOT_SUPPORTED, true, args...);
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
};

template <auto Member>
void Install(CK_KTL_FUNCTION_LIST& list, const char* name, bool standard)
{
    auto& entry = EntryOf(list, Member);
    if (entry == nullptr && !standard) {
        return;
    }
    Recorded<Member>::name = name;
    Recorded<Member>::module = entry;
    entry = entry != nullptr ? &Recorded<Member>::Call : &Recorded<Member>::Missing;
}

}  // namespace

#define RECORD(entry, spec) Install<&CK_FUNCTION_LIST::entry>(list, #entry, true);
#define RECORD_VENDOR(entry, spec) Install<&CK_KTL_FUNCTION_LIST::entry>(list, #entry, false);

void CAnswerRecorder::Wrap(CK_KTL_FUNCTION_LIST& list) { TOKENTEST_FUNCTION_LIST_ENTRIES(RECORD, RECORD_VENDOR) }
