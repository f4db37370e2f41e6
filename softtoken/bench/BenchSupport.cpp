#include "bench/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench {

using Clock = std::chrono::steady_clock;

CK_FUNCTION_LIST* f = nullptr;

void Check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s failed: 0x%lX\n", what, rv);
        std::exit(1);
    }
}

double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Compare(const char* title, int count, const std::function<void()>& throughModule,
             const std::function<void()>& directly) {
    double module = 1e9, direct = 1e9;
    for (int round = 0; round < 5; ++round) {
        module = std::min(module, Seconds(throughModule));
        direct = std::min(direct, Seconds(directly));
    }
    std::printf("%s, %d each:\n", title, count);
    std::printf("  through the module   %8.3f ms each\n", 1000 * module / count);
    std::printf("  directly in OpenSSL  %8.3f ms each\n", 1000 * direct / count);
    std::printf("  ratio                %8.2f\n", module / direct);
}

}  // namespace bench
