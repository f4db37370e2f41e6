// Prints the software token's figures: a token of 10,000 objects (search, attribute reads,
// destruction), the cost of a login on an empty token and on a full one, and RSA-2048 signing
// and the GOST PKCS#12 import through the module against the same work done directly with
// OpenSSL; then the families' figures.
// Uses a fresh store in a temporary directory.
#include "bench/BenchSupport.h"
#include "entries/VendorEntries.h"
#include "crypto/GostEngine.h"
#include "crypto/GostKeys.h"
#include "crypto/GostR3410.h"
#include "crypto/Rsa.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace bench;

CK_SESSION_HANDLE OpenAndLogin() {
    Bytes pin = {'5', '2', '8', '1', '6', '0', '3', '7'};
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    Check(f->C_InitToken(0, pin.data(), pin.size(), label), "C_InitToken");
    CK_SESSION_HANDLE session = 0;
    Check(f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    Check(f->C_Login(session, CKU_USER, pin.data(), pin.size()), "C_Login");
    return session;
}

void Objects(CK_SESSION_HANDLE session, size_t count) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    const double create = Seconds([&] {
        for (size_t i = 0; i < count; ++i) {
            std::string label = "object " + std::to_string(i);
            CK_BYTE id[2] = {static_cast<CK_BYTE>(i >> 8), static_cast<CK_BYTE>(i)};
            CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &yes, 1},
                                         {CKA_LABEL, label.data(), label.size()}, {CKA_ID, id, 2}};
            CK_OBJECT_HANDLE object = 0;
            Check(f->C_CreateObject(session, attributes, 4, &object), "C_CreateObject");
        }
    });
    std::vector<CK_OBJECT_HANDLE> handles;
    const double search = Seconds([&] {
        Check(f->C_FindObjectsInit(session, nullptr, 0), "C_FindObjectsInit");
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG found = 0;
        while (f->C_FindObjects(session, &handle, 1, &found) == CKR_OK && found == 1) handles.push_back(handle);
        Check(f->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    });
    const double read = Seconds([&] {
        for (CK_OBJECT_HANDLE handle : handles) {
            for (CK_ATTRIBUTE_TYPE type : {CKA_LABEL, CKA_ID, CKA_CLASS}) {
                CK_ATTRIBUTE attribute = {type, nullptr, 0};
                Check(f->C_GetAttributeValue(session, handle, &attribute, 1), "C_GetAttributeValue");
                Bytes value(attribute.ulValueLen);
                attribute.pValue = value.data();
                Check(f->C_GetAttributeValue(session, handle, &attribute, 1), "C_GetAttributeValue");
            }
        }
    });
    const double destroy = Seconds([&] {
        for (CK_OBJECT_HANDLE handle : handles) Check(f->C_DestroyObject(session, handle), "C_DestroyObject");
    });
    std::printf("objects: %zu token objects\n", handles.size());
    std::printf("  create one by one          %8.3f s\n", create);
    std::printf("  search returning every one %8.3f s\n", search);
    std::printf("  read label, id, class      %8.3f s (two calls each)\n", read);
    std::printf("  destroy all                %8.3f s\n", destroy);
}

// The fastest and the median of C_Login + C_Logout rounds, in milliseconds: other load on
// the machine only slows rounds down, so the fastest is the figure to compare.
struct LoginFigure {
    double fastest;
    double median;
};
LoginFigure LoginMilliseconds(CK_SESSION_HANDLE session, const Bytes& pin, int count) {
    std::vector<double> rounds;
    for (int i = 0; i < count; ++i) {
        rounds.push_back(1000 * Seconds([&] {
            Check(f->C_Login(session, CKU_USER, const_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), "C_Login");
            Check(f->C_Logout(session), "C_Logout");
        }));
    }
    std::sort(rounds.begin(), rounds.end());
    return {rounds.front(), rounds[rounds.size() / 2]};
}

std::vector<CK_OBJECT_HANDLE> CreatePrivateObjects(CK_SESSION_HANDLE session, size_t count) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_OBJECT_HANDLE> handles;
    for (size_t i = 0; i < count; ++i) {
        std::string label = "private " + std::to_string(i);
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &yes, 1},
                                     {CKA_PRIVATE, &yes, 1}, {CKA_LABEL, label.data(), label.size()}};
        CK_OBJECT_HANDLE object = 0;
        Check(f->C_CreateObject(session, attributes, 4, &object), "C_CreateObject");
        handles.push_back(object);
    }
    return handles;
}

// A login's cost on an empty token and on one holding `objects` private token objects:
// their sealed attributes are opened when first used, not at login.
void Logins(CK_SESSION_HANDLE session, int count, size_t objects) {
    const Bytes pin = {'5', '2', '8', '1', '6', '0', '3', '7'};
    Check(f->C_Logout(session), "C_Logout");
    const LoginFigure empty = LoginMilliseconds(session, pin, count);
    Check(f->C_Login(session, CKU_USER, const_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), "C_Login");
    const std::vector<CK_OBJECT_HANDLE> handles = CreatePrivateObjects(session, objects);
    Check(f->C_Logout(session), "C_Logout");
    const LoginFigure full = LoginMilliseconds(session, pin, count);
    Check(f->C_Login(session, CKU_USER, const_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), "C_Login");
    const double firstSearch = Seconds([&] {
        Check(f->C_FindObjectsInit(session, nullptr, 0), "C_FindObjectsInit");
        Check(f->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    });
    std::printf("login: C_Login + C_Logout, %d rounds          fastest     median\n", count);
    std::printf("  empty token                          %8.2f ms %8.2f ms\n", empty.fastest, empty.median);
    std::printf("  %6zu private objects               %8.2f ms %8.2f ms (fastest %.2fx the empty token)\n", objects,
                full.fastest, full.median, full.fastest / empty.fastest);
    std::printf("  then a search opening all            %8.2f ms\n", 1000 * firstSearch);
    for (CK_OBJECT_HANDLE handle : handles) Check(f->C_DestroyObject(session, handle), "C_DestroyObject");
}

void RsaSigning(CK_SESSION_HANDLE session, int count) {
    crypto::RsaKeyComponents rsa = crypto::Rsa::Generate(2048, {});
    const CK_OBJECT_HANDLE key = CreateRsaPrivateKey(session, rsa);
    Bytes data(32, 0x33), signature(256);
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    EVP_PKEY* openSslKey = OpenSslRsaKey(rsa);
    auto throughModule = [&] {
        for (int i = 0; i < count; ++i) {
            CK_ULONG length = signature.size();
            Check(f->C_SignInit(session, &mechanism, key), "C_SignInit");
            Check(f->C_Sign(session, data.data(), data.size(), signature.data(), &length), "C_Sign");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < count; ++i) {
            EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(openSslKey, nullptr);
            size_t length = signature.size();
            EVP_PKEY_sign_init(ctx);
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
            if (EVP_PKEY_sign(ctx, signature.data(), &length, data.data(), data.size()) != 1) std::exit(2);
            EVP_PKEY_CTX_free(ctx);
        }
    };
    Compare("RSA-2048 CKM_RSA_PKCS sign", count, throughModule, directly);
    EVP_PKEY_free(openSslKey);
}

void GostImport(CK_SESSION_HANDLE session, const std::string& p12Path, int count) {
    std::ifstream in(p12Path, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.empty()) {
        std::printf("GOST PKCS#12 import: %s not readable, skipped\n", p12Path.c_str());
        return;
    }
    Bytes password = {'3', '5', '7'};
    auto throughModule = [&] {
        for (int i = 0; i < count; ++i)
            Check(C_KTL_LoadCert(session, file.data(), file.size(), password.data(), password.size()),
                  "C_KTL_LoadCert");
    };
    auto directly = [&] {
        for (int i = 0; i < count; ++i) {
            const unsigned char* p = file.data();
            crypto::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(file.size())));
            EVP_PKEY* key = nullptr;
            X509* cert = nullptr;
            STACK_OF(X509)* chain = nullptr;
            if (!p12 || PKCS12_parse(p12.get(), "357", &key, &cert, &chain) != 1) std::exit(3);
            EVP_PKEY_free(key);
            X509_free(cert);
            sk_X509_pop_free(chain, X509_free);
        }
    };
    Compare("GOST PKCS#12 import (C_KTL_LoadCert) against PKCS12_parse", count, throughModule, directly);
}

using Family = void (*)(CK_SESSION_HANDLE);
// Every family's figures (bench/<Family>Bench.cpp), in the order they print.
const std::vector<Family> kFamilies = {
    DigestBench,
    AesBench,
    GostBench,
    EcBench,
    RsaBench,
};

}  // namespace

int main(int argc, char** argv) {
    const size_t objects = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("softtoken-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("SOFTTOKEN_STORE", (dir / "store.db").c_str(), 1);
    Check(C_GetFunctionList(&f), "C_GetFunctionList");
    Check(f->C_Initialize(nullptr), "C_Initialize");
    const CK_SESSION_HANDLE session = OpenAndLogin();
    Objects(session, objects);
    Logins(session, 50, objects);
    RsaSigning(session, 200);
    GostImport(session, argc > 2 ? argv[2] : TOKENTEST_CONF_DIR "/clientGostA.p12", 5);
    // The mechanism families' figures, each against OpenSSL alone.
    for (const Family& family : kFamilies) family(session);
    f->C_Finalize(nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
