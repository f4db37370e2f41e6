// Prints the peak resident memory before and after writing the CSR files, to show that the
// encoder's 16 MiB and 32 MiB blocks cost only what the encoding touches. Not a test.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "signature/RsaSignatureOperator.h"

namespace {

class CCsrWriter : public CRsaSignatureOperator {
public:
    using CRsaSignatureOperator::WriteToFile;
};

long PeakResidentKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t length = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1500;
    char dir[] = "/tmp/csr-memory-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        return 1;
    }
    std::vector<unsigned char> csr(length, 0x30);
    const long before = PeakResidentKiB();
    CCsrWriter writer;
    for (int i = 0; i < 3; ++i) {
        writer.WriteToFile(csr.data(), csr.size());
    }
    const long after = PeakResidentKiB();
    std::printf("CSR of %zu bytes written 3 times: peak resident %ld KiB before, %ld KiB after (+%ld KiB)\n", length,
                before, after, after - before);
    std::remove("csr_der.dat");
    std::remove("csr_base64.txt");
    return rmdir(dir) == 0 ? 0 : 1;
}
