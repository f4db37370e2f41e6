#include "MechanismTable.h"

#include <algorithm>

namespace softtoken {
namespace {

struct Entry {
    CK_MECHANISM_TYPE type;
    CK_MECHANISM_INFO info;
};

// RSA sizes in bits; GOST R 34.10-2001 keys are 256 bits; GOST 28147-89 keys 32 bytes.
const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, {1024, 4096, CKF_GENERATE_KEY_PAIR}},
        {CKM_RSA_PKCS, {1024, 4096, CKF_SIGN | CKF_VERIFY}},
        {CKM_SHA256_RSA_PKCS, {1024, 4096, CKF_SIGN | CKF_VERIFY}},
        {CKM_GOSTR3410_KEY_PAIR_GEN, {256, 256, CKF_GENERATE_KEY_PAIR}},
        {CKM_GOSTR3410, {256, 256, CKF_SIGN | CKF_VERIFY}},
        {CKM_GOSTR3410_WITH_GOSTR3411, {256, 256, CKF_SIGN | CKF_VERIFY}},
        {CKM_GOST28147_KEY_GEN, {32, 32, CKF_GENERATE}},
        {CKM_GOST28147_MAC, {32, 32, CKF_SIGN | CKF_VERIFY}},
    };
    return entries;
}

}  // namespace

const std::vector<CK_MECHANISM_TYPE>& MechanismTable::Types() {
    static const std::vector<CK_MECHANISM_TYPE> types = [] {
        std::vector<CK_MECHANISM_TYPE> all;
        for (const Entry& entry : Entries()) all.push_back(entry.type);
        return all;
    }();
    return types;
}

bool MechanismTable::Info(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info) {
    const auto& entries = Entries();
    auto it = std::find_if(entries.begin(), entries.end(), [type](const Entry& e) { return e.type == type; });
    if (it == entries.end()) return false;
    info = it->info;
    return true;
}

}  // namespace softtoken
