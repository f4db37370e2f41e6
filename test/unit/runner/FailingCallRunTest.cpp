// The line after a failure's report that names the module's call behind it, in whole runs
// against the scripted fake module: which call, what identifies it, the PIN hints, null
// entries of the module's list, and clean-up calls that fail after the real failure.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using Lines = std::vector<std::string>;

const std::string kSoHint =
    "ERROR: the token refused the SO PIN; give the right one with --so-pin=PIN or the environment variable "
    "TOKENTEST_SO_PIN";

Lines OutputLines(const std::string& out)
{
    Lines lines;
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(out.substr(start, end - start));
    }
    return lines;
}

// The run's last lines: the report line and what follows it.
Lines Tail(const std::string& out, size_t count)
{
    const Lines lines = OutputLines(out);
    return count > lines.size() ? lines : Lines(lines.end() - static_cast<std::ptrdiff_t>(count), lines.end());
}

// The vendor steps with standard calls: the utility reads the real test files itself.
Lines StandardCalls(Lines more = {})
{
    more.insert(more.begin(), {"--standard-calls", std::string("--conf-dir=") + TOKENTEST_CONF_DIR});
    return more;
}

struct FailureCase {
    const char* name;
    std::string script;       // added to a healthy token's
    Lines arguments;
    Lines tail;               // the report line and the lines after it
    int status = 2;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailingCall : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingCall, ReportLineIsFollowedByTheModuleCall)
{
    ChildRun child;
    child.Script(HealthyToken() + GetParam().script);
    const ChildRun::Result result = child.Run(GetParam().arguments);
    EXPECT_EQ(result.status, GetParam().status) << result.out << result.err;
    EXPECT_THAT(Tail(result.out, GetParam().tail.size()), ElementsAreArray(GetParam().tail)) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailingCall,
    ::testing::Values(
        FailureCase{"InitTokenRefusesTheSoPin", "fail C_InitToken CKR_PIN_INCORRECT\n", {},
                    {"PKCS ERROR in CTokenOperator::FormatToken : CKR_PIN_INCORRECT",
                     "ERROR: the module answered C_InitToken with CKR_PIN_INCORRECT", kSoHint}},
        // After C_InitToken the SO logs in to set the user PIN the token left unset.
        FailureCase{"SoLoginAfterInitToken", "standard-init-token\nfail C_Login CKR_PIN_INCORRECT once\n", {},
                    {"PKCS ERROR in CTokenOperator::FormatToken : CKR_PIN_INCORRECT",
                     "ERROR: the module answered C_Login (CKU_SO) with CKR_PIN_INCORRECT", kSoHint}},
        // Login 5 is the SO's with the default PIN: one in the pass, three in the user's test.
        FailureCase{"SoLoginInThePinTest", "fail C_Login CKR_PIN_INCORRECT from 5 once\n",
                    {"--skip-cert", "--skip-2048"},
                    {"ERROR: std::exception caught: Can not authenticate into token using default PIN",
                     "ERROR: the module answered C_Login (CKU_SO) with CKR_PIN_INCORRECT", kSoHint}},
        // The temporary PIN is the run's own: no hint about the PIN options.
        FailureCase{"TemporaryPinRefused", "fail C_Login CKR_PIN_INCORRECT from 6 once\n",
                    {"--skip-cert", "--skip-2048"},
                    {"ERROR: std::exception caught: Can not authenticate into token using new PIN",
                     "ERROR: the module answered C_Login (CKU_SO) with CKR_PIN_INCORRECT"}},
        FailureCase{"UserLoginRefused", "fail C_Login CKR_PIN_INCORRECT once\n", {},
                    {"ERROR: Can not authenticate into token using default PIN.",
                     "ERROR: the module answered C_Login (CKU_USER) with CKR_PIN_INCORRECT",
                     "ERROR: the token refused the user PIN; give the right one with --pin=PIN or the environment "
                     "variable TOKENTEST_PIN"},
                    255},
        FailureCase{"UserLoginFails", "fail C_Login CKR_DEVICE_ERROR once\n", {},
                    {"PKCS ERROR in CTokenOperator::Authenticate : CKR_DEVICE_ERROR",
                     "ERROR: the module answered C_Login (CKU_USER) with CKR_DEVICE_ERROR"}},
        FailureCase{"VendorImport", "fail C_KTL_LoadCert CKR_DATA_INVALID\n", {},
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_DATA_INVALID",
                     "ERROR: the module answered C_KTL_LoadCert with CKR_DATA_INVALID"}},
        FailureCase{"RsaKeyPair", "fail C_GenerateKeyPair CKR_DEVICE_ERROR\n", {"--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CKR_DEVICE_ERROR",
                     "ERROR: the module answered C_GenerateKeyPair (CKM_RSA_PKCS_KEY_PAIR_GEN) with CKR_DEVICE_ERROR"}},
        FailureCase{"GostKeyPair", "fail C_GenerateKeyPair CKR_MECHANISM_INVALID\n", {"--gost", "--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CKR_MECHANISM_INVALID",
                     "ERROR: the module answered C_GenerateKeyPair (CKM_RSA_PKCS_KEY_PAIR_GEN) with "
                     "CKR_MECHANISM_INVALID"}},
        FailureCase{"GostKeyPairAfterRsa", "fail C_GenerateKeyPair CKR_MECHANISM_INVALID from 2\n",
                    {"--gost", "--skip-cert"},
                    {"PKCS ERROR in CGostSignatureOperator::GenerateKeyPair : CKR_MECHANISM_INVALID",
                     "ERROR: the module answered C_GenerateKeyPair (CKM_GOSTR3410_KEY_PAIR_GEN) with "
                     "CKR_MECHANISM_INVALID"}},
        FailureCase{"SignInit", "fail C_SignInit CKR_KEY_TYPE_INCONSISTENT\n", {"--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_KEY_TYPE_INCONSISTENT",
                     "ERROR: the module answered C_SignInit (CKM_RSA_PKCS) with CKR_KEY_TYPE_INCONSISTENT"}},
        FailureCase{"SignSizeQuery", "fail C_Sign CKR_DATA_LEN_RANGE\n", {"--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_DATA_LEN_RANGE",
                     "ERROR: the module answered C_Sign with CKR_DATA_LEN_RANGE"}},
        FailureCase{"SecretKey", "fail C_GenerateKey CKR_TEMPLATE_INCONSISTENT\n", {"--gost", "--skip-cert"},
                    {"PKCS ERROR in CGostSignatureOperator::GenerateSecretKey : CKR_TEMPLATE_INCONSISTENT",
                     "ERROR: the module answered C_GenerateKey (CKM_GOST28147_KEY_GEN) with "
                     "CKR_TEMPLATE_INCONSISTENT"}},
        FailureCase{"StoredSecretKey", "fail C_CreateObject CKR_ATTRIBUTE_VALUE_INVALID\n", {"--gost", "--skip-cert"},
                    {"PKCS ERROR in CGostSignatureOperator::StoreSecretKey : CKR_ATTRIBUTE_VALUE_INVALID",
                     "ERROR: the module answered C_CreateObject (CKO_SECRET_KEY, CKK_GOST28147) with "
                     "CKR_ATTRIBUTE_VALUE_INVALID"}},
        FailureCase{"Search", "fail C_FindObjectsInit CKR_OPERATION_ACTIVE\n", {"--skip-cert"},
                    {"PKCS ERROR in CTokenOperator::SignData : CKR_OPERATION_ACTIVE",
                     "ERROR: the module answered C_FindObjectsInit (CKO_PRIVATE_KEY) with CKR_OPERATION_ACTIVE"}},
        FailureCase{"Listing", "object CKA_LABEL=41\nfail C_GetAttributeValue CKR_ATTRIBUTE_SENSITIVE\n",
                    {"--skip-init-token", "--skip-cert", "--skip-2048"},
                    {"PKCS ERROR in CTokenOperator::GetObjects : CKR_ATTRIBUTE_SENSITIVE",
                     "ERROR: the module answered C_GetAttributeValue (CKA_LABEL) with CKR_ATTRIBUTE_SENSITIVE"}},
        // Each object of the PKCS#12 import, made with standard calls: never the vendor entry.
        FailureCase{"StandardImportPrivateKey", "fail C_CreateObject CKR_ATTRIBUTE_VALUE_INVALID from 1 once\n",
                    StandardCalls(),
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_ATTRIBUTE_VALUE_INVALID",
                     "ERROR: the module answered C_CreateObject (CKO_PRIVATE_KEY, CKK_RSA) with "
                     "CKR_ATTRIBUTE_VALUE_INVALID"}},
        FailureCase{"StandardImportPublicKey", "fail C_CreateObject CKR_DEVICE_MEMORY from 2 once\n",
                    StandardCalls(),
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_DEVICE_MEMORY",
                     "ERROR: the module answered C_CreateObject (CKO_PUBLIC_KEY, CKK_RSA) with CKR_DEVICE_MEMORY"}},
        FailureCase{"StandardImportCertificate", "fail C_CreateObject CKR_TEMPLATE_INCOMPLETE from 3 once\n",
                    StandardCalls(),
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_TEMPLATE_INCOMPLETE",
                     "ERROR: the module answered C_CreateObject (CKO_CERTIFICATE, CKC_X_509) with "
                     "CKR_TEMPLATE_INCOMPLETE"}},
        // The request is built here from the public key the token gives: the call that failed
        // is the attribute query, not the vendor entry (the fake's key pairs have no attributes).
        FailureCase{"StandardRequest", "", StandardCalls({"--skip-cert"}),
                    {"PKCS ERROR in CRsaSignatureOperator::GenerateCSR : CKR_ATTRIBUTE_TYPE_INVALID",
                     "ERROR: the module answered C_GetAttributeValue (CKA_KEY_TYPE) with CKR_ATTRIBUTE_TYPE_INVALID"}},
        // A code the module made up has no name: the number stands in for it.
        FailureCase{"UnnamedCode", "fail C_GenerateKeyPair 0x1b\n", {"--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CK exception with code 27",
                     "ERROR: the module answered C_GenerateKeyPair (CKM_RSA_PKCS_KEY_PAIR_GEN) with 0x1b"}},
        // Clean-up that fails the same way after the real failure is not the call named:
        // the SO's C_Logout and C_CloseSession after C_InitPIN, the objects an import made.
        FailureCase{"FailingCleanUpAfterInitPin",
                    "standard-init-token\nfail C_InitPIN CKR_DEVICE_ERROR\nfail C_Logout CKR_DEVICE_ERROR\n"
                    "fail C_CloseSession CKR_DEVICE_ERROR\n",
                    {},
                    {"PKCS ERROR in CTokenOperator::FormatToken : CKR_DEVICE_ERROR",
                     "ERROR: the module answered C_InitPIN with CKR_DEVICE_ERROR"}},
        FailureCase{"FailingCleanUpAfterImport",
                    "fail C_CreateObject CKR_DEVICE_ERROR from 3 once\nfail C_DestroyObject CKR_DEVICE_ERROR\n",
                    StandardCalls(),
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_DEVICE_ERROR",
                     "ERROR: the module answered C_CreateObject (CKO_CERTIFICATE, CKC_X_509) with CKR_DEVICE_ERROR"}},
        // Null entries of the module's list are never called.
        FailureCase{"NullInitialize", "null-entry C_Initialize\n", {},
                    {"PKCS ERROR in CTokenOperator::CTokenOperator : CKR_FUNCTION_NOT_SUPPORTED",
                     "ERROR: the module's function list has no C_Initialize"}},
        FailureCase{"NullSignInit", "null-entry C_SignInit C_VerifyInit\n", {"--skip-cert"},
                    {"PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_FUNCTION_NOT_SUPPORTED",
                     "ERROR: the module's function list has no C_SignInit"}},
        FailureCase{"NullCreateObjectInStandardImport", "null-entry C_CreateObject\n", StandardCalls(),
                    {"PKCS ERROR in C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey : "
                     "CKR_FUNCTION_NOT_SUPPORTED",
                     "ERROR: the module's function list has no C_CreateObject"}},
        FailureCase{"NullLoginAndGetTokenInfo", "null-entry C_GetTokenInfo C_Login\n", {"--skip-init-token"},
                    {"PKCS ERROR in CTokenOperator::CheckToken : CKR_FUNCTION_NOT_SUPPORTED",
                     "ERROR: the module's function list has no C_GetTokenInfo"}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(FailingCallRun, NullTeardownEntriesLeaveAPassingRun)
{
    ChildRun child;
    child.Script(HealthyToken() + "null-entry C_Finalize C_GetInfo C_WaitForSlotEvent C_GetMechanismInfo\n");
    const ChildRun::Result result = child.Run({"--skip-cert", "--skip-2048"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, Not(HasSubstr("ERROR")));
    EXPECT_THAT(result.calls, Not(Contains("C_Finalize")));
}

TEST(FailingCallRun, ListSlotsOfAModuleWithoutSlotInfo)
{
    ChildRun child;
    child.Script(HealthyToken() + "null-entry C_GetSlotInfo\n");
    const ChildRun::Result result = child.Run({"--list-slots"});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(Tail(result.out, 2),
                ElementsAreArray({"PKCS ERROR in CTokenOperator::GetSlotName : CKR_FUNCTION_NOT_SUPPORTED",
                                  "ERROR: the module's function list has no C_GetSlotInfo"}));
}

// The trace sits above the record of answers: it still writes every call, the failing one
// and the calls to null entries included, with what the module (or the stub) answered.
TEST(FailingCallRun, TraceSeesTheFailingCallAndTheNullEntries)
{
    ChildRun child;
    child.Script(HealthyToken() + "null-entry C_VerifyInit\nfail C_SignInit CKR_KEY_TYPE_INCONSISTENT once\n");
    const ChildRun::Result failed = child.Run({"--trace", "--skip-cert"});
    EXPECT_EQ(failed.status, 2);
    EXPECT_THAT(failed.err, HasSubstr("C_SignInit(1, CKM_RSA_PKCS, "));
    EXPECT_THAT(failed.err, HasSubstr(") = CKR_KEY_TYPE_INCONSISTENT ("));
    EXPECT_THAT(failed.err, Not(HasSubstr("C_VerifyInit(")));
    EXPECT_THAT(failed.err, HasSubstr("C_Finalize(null) = CKR_OK"));

    child.Script(HealthyToken() + "null-entry C_VerifyInit\n");
    const ChildRun::Result missing = child.Run({"--trace", "--skip-cert"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.err, HasSubstr("C_VerifyInit(1, CKM_RSA_PKCS, "));
    EXPECT_THAT(missing.err, HasSubstr(") = CKR_FUNCTION_NOT_SUPPORTED ("));
    EXPECT_THAT(Tail(missing.out, 1), ElementsAreArray({"ERROR: the module's function list has no C_VerifyInit"}));
    EXPECT_THAT(missing.calls, Not(Contains("C_VerifyInit")));
}

}  // namespace
