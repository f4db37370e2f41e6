#include "ScriptFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "runner/ErrorReport.h"
#include "support/PkcsNames.h"

namespace fake {

namespace {

const std::pair<const char*, CK_ATTRIBUTE_TYPE> kAttributeNames[] = {
    {"CKA_CLASS", CKA_CLASS},
    {"CKA_TOKEN", CKA_TOKEN},
    {"CKA_PRIVATE", CKA_PRIVATE},
    {"CKA_LABEL", CKA_LABEL},
    {"CKA_VALUE", CKA_VALUE},
    {"CKA_CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE},
    {"CKA_SUBJECT", CKA_SUBJECT},
    {"CKA_KEY_TYPE", CKA_KEY_TYPE},
    {"CKA_ID", CKA_ID},
    {"CKA_SENSITIVE", CKA_SENSITIVE},
    {"CKA_SIGN", CKA_SIGN},
    {"CKA_VERIFY", CKA_VERIFY},
    {"CKA_MODULUS", CKA_MODULUS},
    {"CKA_MODULUS_BITS", CKA_MODULUS_BITS},
    {"CKA_PUBLIC_EXPONENT", CKA_PUBLIC_EXPONENT},
    {"CKA_EXTRACTABLE", CKA_EXTRACTABLE},
};

// Every value that has a CKR_ name lies at or below 0x200, or is the vendor base.
const CK_RV kHighestNamedResult = 0x200;

std::runtime_error Error(const std::string& text) { return std::runtime_error(text); }

CK_ULONG ParseNumber(const std::string& text)
{
    if (text.empty() || text[0] == '-') throw Error("not a number: \"" + text + "\"");
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0) throw Error("not a number: \"" + text + "\"");
    return static_cast<CK_ULONG>(value);
}

CK_USER_TYPE ParseUser(const std::string& text)
{
    if (text == "so") return CKU_SO;
    if (text == "user") return CKU_USER;
    throw Error("unknown user \"" + text + "\" (so or user)");
}

bool ParsePresence(const std::string& text)
{
    if (text == "present") return true;
    if (text == "absent") return false;
    throw Error("expected present or absent, got \"" + text + "\"");
}

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

void ExpectCount(const std::vector<std::string>& words, size_t low, size_t high)
{
    if (words.size() < low || words.size() > high) throw Error("wrong number of words for \"" + words[0] + "\"");
}

// The description starts after the third word and the one blank that follows it.
std::string RestAfterWords(const std::string& line, int words)
{
    size_t pos = 0;
    for (int i = 0; i < words; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string::npos) return std::string();
    }
    return line.substr(pos + 1);
}

}  // namespace

Bytes ScriptFile::ParseHex(const std::string& text)
{
    if (text.size() % 2 != 0) throw Error("odd number of hex digits in \"" + text + "\"");
    Bytes out;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            throw Error("not hex: \"" + text + "\"");
        }
        out.push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16)));
    }
    return out;
}

CK_RV ScriptFile::ParseResult(const std::string& text)
{
    if (text.rfind("CKR_", 0) != 0) return ParseNumber(text);
    for (CK_RV rv = 0; rv <= kHighestNamedResult; ++rv) {
        const char* name = CErrorReport::ReturnValueName(rv);
        if (name != nullptr && text == name) return rv;
    }
    if (text == "CKR_VENDOR_DEFINED") return CKR_VENDOR_DEFINED;
    throw Error("unknown result name \"" + text + "\"");
}

std::string ScriptFile::ResultText(CK_RV rv)
{
    if (const char* name = CErrorReport::ReturnValueName(rv)) return name;
    std::ostringstream out;
    out << "0x" << std::hex << rv;
    return out.str();
}

CK_MECHANISM_TYPE ScriptFile::ParseMechanismType(const std::string& text)
{
    if (text.rfind("CKM_", 0) != 0) return ParseNumber(text);
    // The named mechanisms the utility uses: the RSA and digest ones and the GOST block.
    for (const auto& range : {std::make_pair(0x0UL, 0x300UL), std::make_pair(0x1200UL, 0x1230UL)}) {
        for (CK_MECHANISM_TYPE type = range.first; type < range.second; ++type) {
            const char* name = CPkcsNames::Mechanism(type);
            if (name != nullptr && text == name) return type;
        }
    }
    throw Error("unknown mechanism name \"" + text + "\"");
}

CK_ATTRIBUTE_TYPE ScriptFile::ParseAttributeType(const std::string& text)
{
    for (const auto& entry : kAttributeNames) {
        if (text == entry.first) return entry.second;
    }
    if (text.rfind("CKA_", 0) == 0) throw Error("unknown attribute name \"" + text + "\"");
    return ParseNumber(text);
}

ScriptFile ScriptFile::Parse(std::istream& in)
{
    ScriptFile script;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        try {
            script.ParseLine(line);
        } catch (const std::exception& e) {
            throw Error("line " + std::to_string(number) + ": " + e.what());
        }
    }
    return script;
}

ScriptFile ScriptFile::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot open script \"" + path + "\"");
    return Parse(in);
}

void ScriptFile::ParseLine(const std::string& line)
{
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') return;
    const std::string& command = words[0];
    if (command == "slot") {
        if (words.size() < 3) throw Error("slot needs an id and present or absent");
        std::string description = RestAfterWords(line, 3);
        if (description.rfind("hex:", 0) == 0) {
            const Bytes raw = ParseHex(description.substr(4));
            description.assign(raw.begin(), raw.end());
        }
        slots.push_back(Slot{ParseNumber(words[1]), ParsePresence(words[2]), description});
    } else if (command == "pin") {
        ExpectCount(words, 3, 3);
        pins.push_back(UserPin{ParseUser(words[1]), words[2]});
    } else if (command == "locked") {
        ExpectCount(words, 2, 2);
        locked.push_back(ParseUser(words[1]));
    } else if (command == "flags") {
        ExpectCount(words, 2, 2);
        tokenFlags = ParseNumber(words[1]);
    } else if (command == "serial") {
        ExpectCount(words, 3, 3);
        serials.emplace_back(ParseNumber(words[1]), words[2]);
    } else if (command == "label") {
        label = RestAfterWords(line, 1);
    } else if (command == "object") {
        std::vector<Attribute> attributes;
        for (size_t i = 1; i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            if (eq == std::string::npos) throw Error("attribute without '=': \"" + words[i] + "\"");
            attributes.push_back(Raw(ParseAttributeType(words[i].substr(0, eq)), ParseHex(words[i].substr(eq + 1))));
        }
        objects.push_back(attributes);
    } else if (command == "fail") {
        ExpectCount(words, 3, 6);
        FaultRule rule{words[1], ParseResult(words[2]), 1, false};
        for (size_t i = 3; i < words.size(); ++i) {
            if (words[i] == "once") {
                rule.once = true;
            } else if (words[i] == "from" && i + 1 < words.size()) {
                const CK_ULONG from = ParseNumber(words[++i]);
                if (from < 1 || from > INT32_MAX) throw Error("call numbers start at 1");
                rule.fromCall = static_cast<int>(from);
            } else {
                throw Error("unexpected \"" + words[i] + "\" in fail");
            }
        }
        faults.push_back(rule);
    } else if (command == "signal") {
        ExpectCount(words, 4, 5);
        const CK_ULONG call = ParseNumber(words[2]);
        const CK_ULONG number = ParseNumber(words[3]);
        const CK_ULONG times = words.size() == 5 ? ParseNumber(words[4]) : 1;
        if (call < 1 || call > INT32_MAX || number < 1 || number > 64 || times < 1 || times > 3) {
            throw Error("signal takes a call number from 1, a signal from 1 to 64 and up to 3 times");
        }
        signals.push_back(SignalRule{words[1], static_cast<int>(call), static_cast<int>(number), static_cast<int>(times)});
    } else if (command == "output") {
        ExpectCount(words, 2, 3);
        outputs.push_back(Output{words[1], ParseHex(words.size() == 3 ? words[2] : std::string())});
    } else if (command == "length") {
        ExpectCount(words, 3, 3);
        lengths.push_back(Length{words[1], ParseNumber(words[2])});
    } else if (command == "vendor-words") {
        ExpectCount(words, 2, 2);
        if (words[1] == "module") {
            vendorWords = VendorWords::Module;
        } else if (words[1] == "null") {
            vendorWords = VendorWords::Null;
        } else if (words[1] == "garbage") {
            vendorWords = VendorWords::Garbage;
        } else if (words[1] == "pkcs11-3") {
            vendorWords = VendorWords::Pkcs11v3;
        } else {
            throw Error("vendor-words takes module, null, garbage or pkcs11-3");
        }
    } else if (command == "null-entry") {
        if (words.size() < 2) throw Error("null-entry needs an entry name");
        nullEntries.insert(nullEntries.end(), words.begin() + 1, words.end());
    } else if (command == "mechanism") {
        ExpectCount(words, 5, 5);
        mechanisms.push_back(
            Mechanism{ParseMechanismType(words[1]), ParseNumber(words[2]), ParseNumber(words[3]), ParseNumber(words[4])});
    } else if (command == "vendor-interface") {
        ExpectCount(words, 1, 1);
        vendorInterface = true;
    } else if (command == "standard-init-token") {
        ExpectCount(words, 1, 1);
        standardInitToken = true;
    } else {
        throw Error("unknown command \"" + command + "\"");
    }
}

void ScriptFile::Apply() const
{
    for (const Slot& slot : slots) AddSlot(slot.id, slot.description, slot.present);
    for (const UserPin& pin : pins) SetPin(pin.user, pin.pin);
    for (CK_USER_TYPE user : locked) SetPinLocked(user, true);
    if (tokenFlags) SetTokenFlags(*tokenFlags);
    for (const auto& serial : serials) SetSerialNumber(serial.first, serial.second);
    if (label) SetTokenLabel(*label);
    for (const auto& object : objects) AddObject(object);
    for (const FaultRule& rule : faults) Fail(rule.entry, rule.rv, rule.fromCall, rule.once);
    for (const SignalRule& rule : signals) RaiseSignalAfter(rule.entry, rule.afterCall, rule.signal, rule.times);
    for (const Output& output : outputs) SetOutput(output.entry, output.bytes);
    for (const Length& length : lengths) SetReportedLength(length.entry, length.length);
    if (vendorWords) SetVendorWords(*vendorWords);
    SetStandardInitToken(standardInitToken);
    SetNullEntries(nullEntries);
    for (const Mechanism& mechanism : mechanisms) AddMechanism(mechanism);
    SetVendorInterface(vendorInterface);
}

}  // namespace fake
