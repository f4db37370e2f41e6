// The vendor CSR entry's packed string lists, read once for the token and the utility.
#include "TestSupport.h"
#include "crypto/CertificateRequest.h"

#include <gtest/gtest.h>

namespace crypto::test {
namespace {

Bytes Pack(const std::vector<std::string>& strings) {
    Bytes packed;
    for (const std::string& text : strings) {
        packed.insert(packed.end(), text.begin(), text.end());
        packed.push_back(0);
    }
    return packed;
}

TEST(RequestLists, UnpacksEntriesOfTwoAndThreeStrings) {
    const Bytes subject = Pack({"CN", "name", "C", "RU"});
    const Bytes attributes = Pack({"challengePassword", "7591"});
    const Bytes extensions = Pack({"keyUsage", "digitalSignature", "", "basicConstraints", "CA:FALSE", "1"});
    const RequestLists lists =
        CertificateRequest::Unpack(subject.data(), 2, attributes.data(), 1, extensions.data(), 2);
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(lists.subject, (Pairs{{"CN", "name"}, {"C", "RU"}}));
    EXPECT_EQ(lists.attributes, (Pairs{{"challengePassword", "7591"}}));
    ASSERT_EQ(lists.extensions.size(), 2u);
    EXPECT_EQ(lists.extensions[0], (std::array<std::string, 3>{"keyUsage", "digitalSignature", ""}));
    EXPECT_EQ(lists.extensions[1], (std::array<std::string, 3>{"basicConstraints", "CA:FALSE", "1"}));
    // Counts below what the lists hold read only the entries counted.
    EXPECT_TRUE(CertificateRequest::Unpack(subject.data(), 0, nullptr, 0, nullptr, 0).subject.empty());
}

TEST(RequestLists, BoundsOnEntriesAndStrings) {
    std::vector<std::string> many;
    for (int i = 0; i < 65; ++i) many.insert(many.end(), {"CN", "x"});
    const Bytes sixtyFive = Pack(many);
    const Bytes longest = Pack({"CN", std::string(1024, 'a')});
    const Bytes tooLong = Pack({"CN", std::string(1025, 'a')});
    struct Case {
        const char* name;
        const unsigned char* subject;
        CK_ULONG count;
        CK_RV rv;
    };
    const Case cases[] = {
        {"64 entries", sixtyFive.data(), 64, CKR_OK},
        {"65 entries", sixtyFive.data(), 65, CKR_ARGUMENTS_BAD},
        {"string of 1024 bytes", longest.data(), 1, CKR_OK},
        {"string of 1025 bytes", tooLong.data(), 1, CKR_ARGUMENTS_BAD},
        {"null list with an entry", nullptr, 1, CKR_ARGUMENTS_BAD},
        {"null list without entries", nullptr, 0, CKR_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorOf([&] { CertificateRequest::Unpack(c.subject, c.count, nullptr, 0, nullptr, 0); }), c.rv)
            << c.name;
    EXPECT_EQ(ErrorOf([&] { CertificateRequest::Unpack(nullptr, 0, nullptr, 1, nullptr, 0); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(ErrorOf([&] { CertificateRequest::Unpack(nullptr, 0, nullptr, 0, nullptr, 1); }), CKR_ARGUMENTS_BAD);
}

}  // namespace
}  // namespace crypto::test
