#include "token/CallTrace.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "support/PkcsNames.h"
#include "token/FunctionListEntries.h"

namespace {

// The list whose entries the wrappers forward to, and where they write. One traced list per
// process: the utility has one module.
CK_KTL_FUNCTION_LIST g_saved;
std::ostream* g_out = nullptr;

// One argument as a wrapper received it: a number or a pointer.
struct Arg {
    CK_ULONG number = 0;
    const void* pointer = nullptr;
};

template <typename T>
Arg Capture(T value)
{
    if constexpr (!std::is_pointer_v<T>) {
        return {static_cast<CK_ULONG>(value), nullptr};
    } else if constexpr (std::is_function_v<std::remove_pointer_t<T>>) {
        // A callback: only whether there is one.
        static const char kCallback = 0;
        return {0, value != nullptr ? &kCallback : nullptr};
    } else {
        return {0, static_cast<const void*>(value)};
    }
}

// How each entry's arguments are written, one letter per argument or group of arguments:
//   n number (handle, slot, count, user type)   F flags, hexadecimal   M mechanism type
//   x pointer shown only as present or null      m CK_MECHANISM*
//   b input bytes + length: the length only      p PIN or key bytes + length: *** and the length
//   c packed strings + their count               L the 32-byte blank-padded token label
//   s NUL-terminated text                        o output bytes (its length follows as l)
//   l CK_ULONG* read and written: in->out         h CK_ULONG* written: ->out
//   a CK_ULONG array + its CK_ULONG* count       f handle array + its size + CK_ULONG* count
//   t input template + count: values decoded, secret ones masked
//   g template + count filled by the module: types and returned lengths
constexpr size_t ArgumentsOf(char kind)
{
    switch (kind) {
    case 'b':
    case 'p':
    case 'c':
    case 'a':
    case 't':
    case 'g':
        return 2;
    case 'f':
        return 3;
    default:
        return 1;
    }
}

constexpr size_t ArgumentsOf(const char* spec)
{
    size_t count = 0;
    for (; *spec != '\0'; ++spec) {
        count += ArgumentsOf(*spec);
    }
    return count;
}

template <typename Entry>
struct Arity;
template <typename Owner, typename... Args>
struct Arity<CK_RV (*Owner::*)(Args...)> {
    static constexpr size_t value = sizeof...(Args);
};

std::string Hex(CK_ULONG value) { return CPkcsNames::OrHex(nullptr, value); }

std::string HexBytes(const unsigned char* bytes, CK_ULONG length)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (CK_ULONG i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

std::string Named(const char* name, CK_ULONG value) { return CPkcsNames::OrHex(name, value); }

std::string Length(CK_ULONG length) { return "[" + std::to_string(length) + " bytes]"; }

std::string Masked(CK_ULONG length) { return "***" + Length(length); }

// Quoted when every byte is printable ASCII, otherwise only the length.
std::string Text(const unsigned char* bytes, CK_ULONG length)
{
    const bool printable = std::all_of(bytes, bytes + length, [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
    return printable ? "\"" + std::string(reinterpret_cast<const char*>(bytes), length) + "\"" : Length(length);
}

CK_ULONG ReadUlong(const void* pointer)
{
    CK_ULONG value = 0;
    std::memcpy(&value, pointer, sizeof(value));
    return value;
}

bool IsOneOf(CK_ATTRIBUTE_TYPE type, std::initializer_list<CK_ATTRIBUTE_TYPE> types)
{
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Key material: never written, whatever object it belongs to.
bool IsSecret(CK_ATTRIBUTE_TYPE type)
{
    return IsOneOf(type, {CKA_VALUE, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                          CKA_COEFFICIENT});
}

bool IsBoolean(CK_ATTRIBUTE_TYPE type)
{
    return IsOneOf(type, {CKA_TOKEN, CKA_PRIVATE, CKA_TRUSTED, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP,
                          CKA_UNWRAP, CKA_SIGN, CKA_SIGN_RECOVER, CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_DERIVE,
                          CKA_EXTRACTABLE, CKA_LOCAL, CKA_NEVER_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_MODIFIABLE,
                          CKA_ALWAYS_AUTHENTICATE});
}

// The value of a CK_ULONG attribute, by name where the attribute has names.
std::string UlongValue(CK_ATTRIBUTE_TYPE type, CK_ULONG value)
{
    switch (type) {
    case CKA_CLASS:
        return Named(CPkcsNames::ObjectClass(value), value);
    case CKA_KEY_TYPE:
        return Named(CPkcsNames::KeyType(value), value);
    case CKA_KEY_GEN_MECHANISM:
        return Named(CPkcsNames::Mechanism(value), value);
    case CKA_CERTIFICATE_TYPE:
        return Named(CPkcsNames::CertificateType(value), value);
    default:
        return std::to_string(value);
    }
}

std::string AttributeValue(const CK_ATTRIBUTE& attribute)
{
    const auto* bytes = static_cast<const unsigned char*>(attribute.pValue);
    const CK_ULONG length = attribute.ulValueLen;
    if (IsSecret(attribute.type)) {
        return Masked(length);
    }
    if (bytes == nullptr) {
        return "null" + Length(length);
    }
    if (IsBoolean(attribute.type) && length == sizeof(CK_BBOOL)) {
        return bytes[0] != CK_FALSE ? "true" : "false";
    }
    if (IsOneOf(attribute.type, {CKA_CLASS, CKA_KEY_TYPE, CKA_KEY_GEN_MECHANISM, CKA_CERTIFICATE_TYPE,
                                 CKA_CERTIFICATE_CATEGORY, CKA_MODULUS_BITS, CKA_VALUE_LEN}) &&
        length == sizeof(CK_ULONG)) {
        return UlongValue(attribute.type, ReadUlong(bytes));
    }
    if (IsOneOf(attribute.type, {CKA_LABEL, CKA_APPLICATION})) {
        return Text(bytes, length);
    }
    const CK_ULONG kLongestHex = 32;
    if (IsOneOf(attribute.type, {CKA_ID, CKA_PUBLIC_EXPONENT, CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS,
                                 CKA_GOST28147_PARAMS}) &&
        length <= kLongestHex) {
        return HexBytes(bytes, length);
    }
    return Length(length);
}

std::string AttributeName(CK_ATTRIBUTE_TYPE type) { return Named(CPkcsNames::Attribute(type), type); }

std::string InputTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    if (attributes == nullptr) {
        return "null, " + std::to_string(count);
    }
    std::string text = "{";
    for (CK_ULONG i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + AttributeName(attributes[i].type) + "=" + AttributeValue(attributes[i]);
    }
    return text + "}";
}

// After the call: what the module says each value's length is; values are never read.
std::string FilledTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    if (attributes == nullptr) {
        return "null, " + std::to_string(count);
    }
    std::string text = "{";
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = attributes[i].ulValueLen;
        text += (i == 0 ? "" : ", ") + AttributeName(attributes[i].type) +
                (length == CK_UNAVAILABLE_INFORMATION ? "[unavailable]" : Length(length));
    }
    return text + "}";
}

std::string Mechanism(const CK_MECHANISM* mechanism)
{
    if (mechanism == nullptr) {
        return "null";
    }
    std::string text = Named(CPkcsNames::Mechanism(mechanism->mechanism), mechanism->mechanism);
    if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0) {
        text += "(parameter " + Length(mechanism->ulParameterLen) + ")";
    }
    return text;
}

std::string Label32(const unsigned char* label)
{
    const CK_ULONG kLabelSize = 32;
    CK_ULONG length = kLabelSize;
    while (length > 0 && label[length - 1] == ' ') {
        --length;
    }
    return Text(label, length);
}

std::string Handles(const CK_ULONG* handles, CK_ULONG count)
{
    std::string text = "[";
    for (CK_ULONG i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(handles[i]);
    }
    return text + "]";
}

// One argument group of a call. The text of inputs is made before the call; outputs are
// added after it, from what the module wrote and the values noted before.
struct Piece {
    char kind = 'n';
    const Arg* args = nullptr;
    std::string text;
    CK_ULONG before = 0;   // the CK_ULONG an 'l', 'a' or 'f' group points to, before the call
};

const void* CountPointer(const Piece& piece)
{
    return piece.kind == 'l' ? piece.args[0].pointer : piece.kind == 'a' ? piece.args[1].pointer : piece.args[2].pointer;
}

std::string InputText(char kind, const Arg* args)
{
    switch (kind) {
    case 'n':
        return std::to_string(args[0].number);
    case 'F':
        return Hex(args[0].number);
    case 'M':
        return Named(CPkcsNames::Mechanism(args[0].number), args[0].number);
    case 'x':
        return args[0].pointer != nullptr ? "&" : "null";
    case 'm':
        return Mechanism(static_cast<const CK_MECHANISM*>(args[0].pointer));
    case 'b':
        return args[0].pointer != nullptr ? Length(args[1].number) : "null";
    case 'p':
        return args[0].pointer != nullptr ? Masked(args[1].number) : "null";
    case 'c':
        return args[0].pointer != nullptr ? "[" + std::to_string(args[1].number) + " strings]" : "null";
    case 'L':
        return args[0].pointer != nullptr ? Label32(static_cast<const unsigned char*>(args[0].pointer)) : "null";
    case 's':
        return args[0].pointer != nullptr ? "\"" + std::string(static_cast<const char*>(args[0].pointer)) + "\""
                                          : "null";
    case 'o':
        return args[0].pointer != nullptr ? "buffer" : "null";
    case 't':
        return InputTemplate(static_cast<const CK_ATTRIBUTE*>(args[0].pointer), args[1].number);
    case 'f':
        return "max " + std::to_string(args[1].number);
    default:
        return "";
    }
}

std::string OutputText(const Piece& piece, CK_RV rv)
{
    const Arg* args = piece.args;
    switch (piece.kind) {
    case 'l':
        return args[0].pointer != nullptr
                   ? std::to_string(piece.before) + "->" + std::to_string(ReadUlong(args[0].pointer))
                   : "null";
    case 'h':
        if (args[0].pointer == nullptr) {
            return "null";
        }
        return rv == CKR_OK ? "->" + std::to_string(ReadUlong(args[0].pointer)) : "&";
    case 'a': {
        if (args[1].pointer == nullptr) {
            return "null, null";
        }
        const CK_ULONG after = ReadUlong(args[1].pointer);
        if (args[0].pointer == nullptr || rv != CKR_OK) {
            return std::string(args[0].pointer == nullptr ? "null" : "list") + ", " + std::to_string(piece.before) +
                   "->" + std::to_string(after);
        }
        return Handles(static_cast<const CK_ULONG*>(args[0].pointer), std::min(piece.before, after));
    }
    case 'f': {
        if (args[0].pointer == nullptr || args[2].pointer == nullptr || rv != CKR_OK) {
            return "";
        }
        const CK_ULONG found = std::min(ReadUlong(args[2].pointer), args[1].number);
        return "->" + Handles(static_cast<const CK_ULONG*>(args[0].pointer), found);
    }
    case 'g':
        return FilledTemplate(static_cast<const CK_ATTRIBUTE*>(args[0].pointer), args[1].number);
    default:
        return "";
    }
}

std::vector<Piece> Before(const char* spec, const Arg* args)
{
    std::vector<Piece> pieces;
    for (; *spec != '\0'; args += ArgumentsOf(*spec), ++spec) {
        Piece piece;
        piece.kind = *spec;
        piece.args = args;
        piece.text = InputText(piece.kind, args);
        if (piece.kind == 'l' || piece.kind == 'a' || piece.kind == 'f') {
            const void* count = CountPointer(piece);
            piece.before = count != nullptr ? ReadUlong(count) : 0;
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

void WriteLine(const char* name, std::vector<Piece>& pieces, CK_RV rv, std::chrono::steady_clock::duration took)
{
    std::string line = std::string(name) + "(";
    for (size_t i = 0; i < pieces.size(); ++i) {
        pieces[i].text += OutputText(pieces[i], rv);
        line += (i == 0 ? "" : ", ") + pieces[i].text;
    }
    char duration[32];
    std::snprintf(duration, sizeof(duration), " (%.3f ms)",
                  std::chrono::duration<double, std::milli>(took).count());
    line += ") = " + Named(CPkcsNames::ReturnValue(rv), rv) + duration + "\n";
    *g_out << line << std::flush;
}

using function_list::EntryOf;

// The wrapper of one entry: writes the call and forwards it to the saved entry. Writing
// never changes the result, and nothing is thrown through the module's C interface.
template <auto Member, typename = decltype(Member)>
struct Traced;

template <auto Member, typename Owner, typename... Args>
struct Traced<Member, CK_RV (*Owner::*)(Args...)> {
    static inline const char* name = nullptr;
    static inline const char* spec = nullptr;

    static CK_RV Call(Args... args)
    {
        const std::array<Arg, sizeof...(Args)> captured{Capture(args)...};
        std::vector<Piece> pieces;
        try {
            pieces = Before(spec, captured.data());
        } catch (...) {
        }
        const auto start = std::chrono::steady_clock::now();
        const CK_RV rv = EntryOf(g_saved, Member)(args...);
        const auto took = std::chrono::steady_clock::now() - start;
        try {
            WriteLine(name, pieces, rv, took);
        } catch (...) {
        }
        return rv;
    }
};

// Replaces one entry by its wrapper. A null entry stays null, so that callers still see a
// missing entry; an entry already wrapped keeps its saved target.
template <auto Member>
void Install(CK_KTL_FUNCTION_LIST& list, const char* name, const char* spec)
{
    auto& entry = EntryOf(list, Member);
    if (entry == nullptr || entry == &Traced<Member>::Call) {
        return;
    }
    Traced<Member>::name = name;
    Traced<Member>::spec = spec;
    EntryOf(g_saved, Member) = entry;
    entry = &Traced<Member>::Call;
}

}  // namespace

#define TRACE_ENTRY(owner, entry, spec)                                                                   \
    static_assert(ArgumentsOf(spec) == Arity<decltype(&owner::entry)>::value, #entry ": wrong spec"); \
    Install<&owner::entry>(list, #entry, spec)
#define TRACE(entry, spec) TRACE_ENTRY(CK_FUNCTION_LIST, entry, spec);
#define TRACE_VENDOR(entry, spec) TRACE_ENTRY(CK_KTL_FUNCTION_LIST, entry, spec);

void CCallTrace::Wrap(CK_KTL_FUNCTION_LIST& list, std::ostream& out)
{
    g_out = &out;
    TOKENTEST_FUNCTION_LIST_ENTRIES(TRACE, TRACE_VENDOR)
}
