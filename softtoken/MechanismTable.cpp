#include "MechanismTable.h"

#include <algorithm>
#include <iterator>

namespace softtoken {
namespace {

struct Entry {
    CK_MECHANISM_TYPE type;
    CK_MECHANISM_INFO info;
};

// RSA sizes in bits; GOST R 34.10-2001 keys are 256 bits; GOST 28147-89 keys 32 bytes. A
// constant array: it has nothing to destroy at exit, when hosts may still ask.
constexpr Entry kEntries[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, {1024, 4096, CKF_GENERATE_KEY_PAIR}},
    {CKM_RSA_PKCS, {1024, 4096, CKF_SIGN | CKF_VERIFY}},
    {CKM_SHA256_RSA_PKCS, {1024, 4096, CKF_SIGN | CKF_VERIFY}},
    {CKM_GOSTR3410_KEY_PAIR_GEN, {256, 256, CKF_GENERATE_KEY_PAIR}},
    {CKM_GOSTR3410, {256, 256, CKF_SIGN | CKF_VERIFY}},
    {CKM_GOSTR3410_WITH_GOSTR3411, {256, 256, CKF_SIGN | CKF_VERIFY}},
    {CKM_GOST28147_KEY_GEN, {32, 32, CKF_GENERATE}},
    {CKM_GOST28147_MAC, {32, 32, CKF_SIGN | CKF_VERIFY}},
};

}  // namespace

std::vector<CK_MECHANISM_TYPE> MechanismTable::Types() {
    std::vector<CK_MECHANISM_TYPE> all;
    for (const Entry& entry : kEntries) all.push_back(entry.type);
    return all;
}

bool MechanismTable::Info(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info) {
    auto it = std::find_if(std::begin(kEntries), std::end(kEntries), [type](const Entry& e) { return e.type == type; });
    if (it == std::end(kEntries)) return false;
    info = it->info;
    return true;
}

}  // namespace softtoken
