// The names of PKCS#11 return values and the one-line reports of exceptions that end a run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runner/ErrorReport.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"

namespace {

struct Named {
    CK_RV rv;
    const char* name;
};

// Written out by value so that a wrong value in any header or table shows.
const Named kNames[] = {
    {0x0, "CKR_OK"}, {0x1, "CKR_CANCEL"}, {0x2, "CKR_HOST_MEMORY"}, {0x3, "CKR_SLOT_ID_INVALID"},
    {0x5, "CKR_GENERAL_ERROR"}, {0x6, "CKR_FUNCTION_FAILED"}, {0x7, "CKR_ARGUMENTS_BAD"}, {0x8, "CKR_NO_EVENT"},
    {0x9, "CKR_NEED_TO_CREATE_THREADS"}, {0xA, "CKR_CANT_LOCK"}, {0x10, "CKR_ATTRIBUTE_READ_ONLY"},
    {0x11, "CKR_ATTRIBUTE_SENSITIVE"}, {0x12, "CKR_ATTRIBUTE_TYPE_INVALID"}, {0x13, "CKR_ATTRIBUTE_VALUE_INVALID"},
    {0x20, "CKR_DATA_INVALID"}, {0x21, "CKR_DATA_LEN_RANGE"}, {0x30, "CKR_DEVICE_ERROR"},
    {0x31, "CKR_DEVICE_MEMORY"}, {0x32, "CKR_DEVICE_REMOVED"}, {0x40, "CKR_ENCRYPTED_DATA_INVALID"},
    {0x41, "CKR_ENCRYPTED_DATA_LEN_RANGE"}, {0x50, "CKR_FUNCTION_CANCELED"}, {0x51, "CKR_FUNCTION_NOT_PARALLEL"},
    {0x54, "CKR_FUNCTION_NOT_SUPPORTED"}, {0x60, "CKR_KEY_HANDLE_INVALID"}, {0x62, "CKR_KEY_SIZE_RANGE"},
    {0x63, "CKR_KEY_TYPE_INCONSISTENT"}, {0x64, "CKR_KEY_NOT_NEEDED"}, {0x65, "CKR_KEY_CHANGED"},
    {0x66, "CKR_KEY_NEEDED"}, {0x67, "CKR_KEY_INDIGESTIBLE"}, {0x68, "CKR_KEY_FUNCTION_NOT_PERMITTED"},
    {0x69, "CKR_KEY_NOT_WRAPPABLE"}, {0x6A, "CKR_KEY_UNEXTRACTABLE"}, {0x70, "CKR_MECHANISM_INVALID"},
    {0x71, "CKR_MECHANISM_PARAM_INVALID"}, {0x82, "CKR_OBJECT_HANDLE_INVALID"}, {0x90, "CKR_OPERATION_ACTIVE"},
    {0x91, "CKR_OPERATION_NOT_INITIALIZED"}, {0xA0, "CKR_PIN_INCORRECT"}, {0xA1, "CKR_PIN_INVALID"},
    {0xA2, "CKR_PIN_LEN_RANGE"}, {0xA3, "CKR_PIN_EXPIRED"}, {0xA4, "CKR_PIN_LOCKED"}, {0xB0, "CKR_SESSION_CLOSED"},
    {0xB1, "CKR_SESSION_COUNT"}, {0xB3, "CKR_SESSION_HANDLE_INVALID"},
    {0xB4, "CKR_SESSION_PARALLEL_NOT_SUPPORTED"}, {0xB5, "CKR_SESSION_READ_ONLY"}, {0xB6, "CKR_SESSION_EXISTS"},
    {0xB7, "CKR_SESSION_READ_ONLY_EXISTS"}, {0xB8, "CKR_SESSION_READ_WRITE_SO_EXISTS"},
    {0xC0, "CKR_SIGNATURE_INVALID"}, {0xC1, "CKR_SIGNATURE_LEN_RANGE"}, {0xD0, "CKR_TEMPLATE_INCOMPLETE"},
    {0xD1, "CKR_TEMPLATE_INCONSISTENT"}, {0xE0, "CKR_TOKEN_NOT_PRESENT"}, {0xE1, "CKR_TOKEN_NOT_RECOGNIZED"},
    {0xE2, "CKR_TOKEN_WRITE_PROTECTED"}, {0xF0, "CKR_UNWRAPPING_KEY_HANDLE_INVALID"},
    {0xF1, "CKR_UNWRAPPING_KEY_SIZE_RANGE"}, {0xF2, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT"},
    {0x100, "CKR_USER_ALREADY_LOGGED_IN"}, {0x101, "CKR_USER_NOT_LOGGED_IN"},
    {0x102, "CKR_USER_PIN_NOT_INITIALIZED"}, {0x103, "CKR_USER_TYPE_INVALID"},
    {0x104, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN"}, {0x105, "CKR_USER_TOO_MANY_TYPES"},
    {0x110, "CKR_WRAPPED_KEY_INVALID"}, {0x112, "CKR_WRAPPED_KEY_LEN_RANGE"},
    {0x113, "CKR_WRAPPING_KEY_HANDLE_INVALID"}, {0x114, "CKR_WRAPPING_KEY_SIZE_RANGE"},
    {0x115, "CKR_WRAPPING_KEY_TYPE_INCONSISTENT"}, {0x120, "CKR_RANDOM_SEED_NOT_SUPPORTED"},
    {0x121, "CKR_RANDOM_NO_RNG"}, {0x130, "CKR_DOMAIN_PARAMS_INVALID"}, {0x150, "CKR_BUFFER_TOO_SMALL"},
    {0x160, "CKR_SAVED_STATE_INVALID"}, {0x170, "CKR_INFORMATION_SENSITIVE"}, {0x180, "CKR_STATE_UNSAVEABLE"},
    {0x190, "CKR_CRYPTOKI_NOT_INITIALIZED"}, {0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED"}, {0x1A0, "CKR_MUTEX_BAD"},
    {0x1A1, "CKR_MUTEX_NOT_LOCKED"}, {0x1B0, "CKR_NEW_PIN_MODE"}, {0x1B1, "CKR_NEXT_OTP"},
    {0x200, "CKR_FUNCTION_REJECTED"}, {0x80000000, "CKR_VENDOR_DEFINED"},
};

TEST(ErrorReport, EveryStandardValueHasItsName)
{
    ASSERT_EQ(std::size(kNames), 88u);
    for (const Named& n : kNames) {
        EXPECT_EQ(CErrorReport::ReturnValueText(n.rv), n.name) << std::hex << n.rv;
    }
}

TEST(ErrorReport, NoOtherValueHasAName)
{
    int named = 0;
    for (CK_RV rv = 0; rv < 0x1000; ++rv) {
        if (CErrorReport::ReturnValueName(rv) != nullptr) ++named;
    }
    for (CK_RV rv : {0x80000000UL, 0x80000001UL, 0x800000A0UL, 0xFFFFFFFFUL}) {
        if (CErrorReport::ReturnValueName(rv) != nullptr) ++named;
    }
    EXPECT_EQ(named, 88);
}

TEST(ErrorReport, UnnamedValuesPrintAsSigned32Bit)
{
    const std::pair<CK_RV, const char*> cases[] = {
        {0x1B, "CK exception with code 27"},
        {0x140, "CK exception with code 320"},
        {0x4, "CK exception with code 4"},
        {0x80000001, "CK exception with code -2147483647"},
        {0xFFFFFFFF, "CK exception with code -1"},
        {0x7FFFFFFF, "CK exception with code 2147483647"},
    };
    for (const auto& c : cases) EXPECT_EQ(CErrorReport::ReturnValueText(c.first), c.second);
}

TEST(ErrorReport, LinesForEachKindOfException)
{
    EXPECT_EQ(CErrorReport::PkcsLine(CPKCSException(CKR_PIN_LOCKED, "CTokenOperator::Authenticate")),
              "PKCS ERROR in CTokenOperator::Authenticate : CKR_PIN_LOCKED");
    EXPECT_EQ(CErrorReport::PkcsLine(CPKCSException(CKR_USER_NOT_LOGGED_IN, "CTokenOperator::Logout")),
              "PKCS ERROR in CTokenOperator::Logout : CKR_USER_NOT_LOGGED_IN");
    EXPECT_EQ(CErrorReport::PkcsLine(CPKCSException(0x140, "X::Y")), "PKCS ERROR in X::Y : CK exception with code 320");
    EXPECT_EQ(CErrorReport::PkcsLine(CPKCSException(CKR_OK, "")), "PKCS ERROR in  : CKR_OK");
    EXPECT_EQ(CErrorReport::StdLine(CustomException("Can not authenticate into token using new PIN")),
              "ERROR: std::exception caught: Can not authenticate into token using new PIN");
    EXPECT_EQ(CErrorReport::StdLine(CustomException("")), "ERROR: std::exception caught: ");
    EXPECT_EQ(CErrorReport::UnknownLine(), "unknown exception caught");
}

TEST(ErrorReport, WriteEndsTheLineAndFlushes)
{
    struct Counting : std::stringbuf {
        int flushes = 0;
        int sync() override
        {
            ++flushes;
            return 0;
        }
    } buffer;
    std::ostream out(&buffer);
    CErrorReport::Write(out, "unknown exception caught");
    EXPECT_EQ(buffer.str(), "unknown exception caught\n");
    EXPECT_EQ(buffer.flushes, 1);
}

}  // namespace
