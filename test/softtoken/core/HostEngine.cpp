// With SOFTTOKEN_TEST_HOST_ENGINE=pkcs11 in its environment, the test process first does what
// a host that loaded OpenSSL's pkcs11 engine does: it makes that engine OpenSSL's default for
// every method it has (RSA keys above all). The module must answer exactly as without it.
#include <openssl/engine.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace softtoken_test {
namespace {

bool RegisterHostEngine() {
    const char* wanted = std::getenv("SOFTTOKEN_TEST_HOST_ENGINE");
    if (wanted == nullptr || *wanted == '\0') return false;
    ENGINE* engine = ENGINE_by_id(wanted);
    if (engine == nullptr || ENGINE_init(engine) != 1 || ENGINE_set_default(engine, ENGINE_METHOD_ALL) != 1 ||
        ENGINE_get_pkey_meth_engine(EVP_PKEY_RSA) != engine) {
        std::fprintf(stderr, "cannot make the %s engine the default: the host engine test cannot run\n", wanted);
        std::exit(1);
    }
    ENGINE_free(engine);  // the functional reference from ENGINE_init stays for the process
    return true;
}

[[maybe_unused]] const bool g_hostEngine = RegisterHostEngine();

}  // namespace
}  // namespace softtoken_test
