#pragma once
// What the benchmark's parts share: the module's function list, timing, and the side-by-side
// figure of work through the module against the same work in OpenSSL alone.
#include "crypto/RsaKey.h"

#include <p11-kit/pkcs11.h>

#include <functional>
#include <vector>

struct evp_pkey_st;

namespace bench {

using Bytes = std::vector<unsigned char>;

extern CK_FUNCTION_LIST* f;

// Exits with a message when a call fails: a benchmark has nothing to report then.
void Check(CK_RV rv, const char* what);
double Seconds(const std::function<void()>& work);
// Five alternating rounds, best of each, so that a busy machine weighs on both alike; prints
// both figures and their ratio (module / OpenSSL).
void Compare(const char* title, int count, const std::function<void()>& throughModule,
             const std::function<void()>& directly);

// The same RSA key in OpenSSL alone (the caller frees it) and as a token object on the session.
evp_pkey_st* OpenSslRsaKey(const crypto::RsaKeyComponents& rsa);
CK_OBJECT_HANDLE CreateRsaPrivateKey(CK_SESSION_HANDLE session, crypto::RsaKeyComponents& rsa);

// The families' figures, one per file (bench/<Family>Bench.cpp), each making its keys on
// the logged-in session, are declared here.
void DigestBench(CK_SESSION_HANDLE session);  // SHA-256 and HMAC-SHA-256 over 1 MiB
void AesBench(CK_SESSION_HANDLE session);
void GostBench(CK_SESSION_HANDLE session);
void EcBench(CK_SESSION_HANDLE session);
void RsaBench(CK_SESSION_HANDLE session);

}  // namespace bench
