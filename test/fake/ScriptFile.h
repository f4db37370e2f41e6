#pragma once
// Script and log formats of the fake module in a child process, and the parser of scripts.
//
// Script (file named by FAKE_PKCS11_SCRIPT, read on the first C_GetFunctionList call): one
// command per line; blank lines and lines starting with '#' are skipped. Numbers are decimal
// or 0x-prefixed hexadecimal. Byte strings are hexadecimal digit pairs, possibly none.
//   slot <id> present|absent [<description>]   the description is the rest of the line after
//                                               one blank, taken byte for byte, or hex:<bytes>
//   pin so|user <pin>                           the right PIN of that user
//   locked so|user                              C_Login of that user answers CKR_PIN_LOCKED
//   flags <n>                                   the token flags C_GetTokenInfo reports
//   serial <id> <text>                          the serial number of the token in slot <id>
//   label <text>                                the token label (the rest of the line)
//   object [<type>=<bytes> ...]                 an object with these attributes, in order;
//                                               <type> is a number or a CKA_ name
//   fail <entry> <code> [from <N>] [once]       <code> is a number or a CKR_ name; the entry
//                                               answers it from its Nth call on (or only then)
//   signal <entry> <N> <signal> [<times>]       after its Nth call has done its work the
//                                               entry raises the signal (a number) once,
//                                               or <times> times
//   output <entry> <bytes>                      what C_Sign / C_KTL_CreateCSR /
//                                               C_KTL_SignWithCert deliver
//   length <entry> <n>                          the length their size query reports
//   vendor-words module|null|garbage|pkcs11-3   the five words after the standard list
//                                               (pkcs11-3: the list says 3.0 and 3.0 entries
//                                               follow it)
//   vendor-interface                            C_GetInterface (in the interfaces build)
//                                               also offers the vendor interface
//   standard-init-token                         C_InitToken leaves the user PIN unset
//   null-entry <entry> [<entry> ...]            these standard entries are null in the list
//   mechanism <type> <min> <max> <flags>        a listed mechanism (a number or a CKM_ name
//                                               the utility uses), its key sizes and flags
// Example:
//   slot 7 present Reader A
//   pin user 1234
//   object CKA_CLASS=0100000000000000 CKA_ID=3b CKA_LABEL=
//   fail C_Logout CKR_DEVICE_ERROR from 2 once
// A script that cannot be read makes C_GetFunctionList answer CKR_GENERAL_ERROR, with the
// reason ("fake PKCS#11 module: line 3: ...") on standard error.
//
// Log (file named by FAKE_PKCS11_LOG): one line per call, appended and flushed at once:
//   <entry> rv=<CKR_ name or 0x hex> args=<decimal,...>[ bufs=<item,...>][ tpls=<template|...>]
//           [ mech=0x<type>:<parameter bytes>][ out=null]
// A buffer item is its bytes in hex (empty for an empty buffer) or "null". A template is its
// attributes joined by ';', each 0x<type>:<ulValueLen as given>:<bytes or "null">. What the
// args, bufs and tpls of each entry hold is listed in FakeModule.h.
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "FakeModule.h"

namespace fake {

class ScriptFile {
public:
    struct Slot {
        CK_SLOT_ID id = 0;
        bool present = true;
        std::string description;
    };
    struct UserPin {
        CK_USER_TYPE user = CKU_USER;
        std::string pin;
    };
    struct FaultRule {
        std::string entry;
        CK_RV rv = CKR_OK;
        int fromCall = 1;
        bool once = false;
    };
    struct SignalRule {
        std::string entry;
        int afterCall = 1;
        int signal = 0;
        int times = 1;
    };
    struct Output {
        std::string entry;
        Bytes bytes;
    };
    struct Length {
        std::string entry;
        CK_ULONG length = 0;
    };

    // Throws std::runtime_error naming the line ("line 3: ...") on anything it cannot read.
    static ScriptFile Parse(std::istream& in);
    static ScriptFile Load(const std::string& path);
    // Scripts the fake module's state with what was read, in the order above.
    void Apply() const;

    static CK_RV ParseResult(const std::string& text);
    static std::string ResultText(CK_RV rv);
    static CK_ATTRIBUTE_TYPE ParseAttributeType(const std::string& text);
    static Bytes ParseHex(const std::string& text);
    static CK_MECHANISM_TYPE ParseMechanismType(const std::string& text);

    std::vector<Slot> slots;
    std::vector<UserPin> pins;
    std::vector<CK_USER_TYPE> locked;
    std::optional<CK_FLAGS> tokenFlags;
    std::vector<std::pair<CK_SLOT_ID, std::string>> serials;
    std::optional<std::string> label;
    std::vector<std::vector<Attribute>> objects;
    std::vector<FaultRule> faults;
    std::vector<SignalRule> signals;
    std::vector<Output> outputs;
    std::vector<Length> lengths;
    std::optional<VendorWords> vendorWords;
    bool standardInitToken = false;
    std::vector<std::string> nullEntries;
    std::vector<Mechanism> mechanisms;
    bool vendorInterface = false;

private:
    void ParseLine(const std::string& line);
};

}  // namespace fake
