// Templates with empty values, null values of length 0 and values of the wrong size, through
// every entry that takes a template: answered with a code, never a crash.
#include "SoftTokenFixture.h"

#include <iterator>

namespace softtoken_test {
namespace {

struct TemplateCase {
    const char* name;
    CK_ATTRIBUTE attribute;
    CK_RV create, copy, set, find;
};

CK_BYTE g_byte = 1;
CK_BYTE g_two[2] = {1, 0};

const TemplateCase kCases[] = {
    {"empty label", {CKA_LABEL, &g_byte, 0}, CKR_OK, CKR_OK, CKR_OK, CKR_OK},
    {"empty identifier, null value", {CKA_ID, nullptr, 0}, CKR_OK, CKR_OK, CKR_OK, CKR_OK},
    {"null value with a length", {CKA_LABEL, nullptr, 4}, CKR_ARGUMENTS_BAD, CKR_ARGUMENTS_BAD, CKR_ARGUMENTS_BAD,
     CKR_ARGUMENTS_BAD},
    {"empty Boolean", {CKA_COPYABLE, nullptr, 0}, CKR_ATTRIBUTE_VALUE_INVALID, CKR_ATTRIBUTE_VALUE_INVALID,
     CKR_ATTRIBUTE_VALUE_INVALID, CKR_OK},
    {"two-byte Boolean", {CKA_DESTROYABLE, g_two, 2}, CKR_ATTRIBUTE_VALUE_INVALID, CKR_ATTRIBUTE_VALUE_INVALID,
     CKR_ATTRIBUTE_VALUE_INVALID, CKR_OK},
    {"one-byte number", {CKA_CERTIFICATE_CATEGORY, &g_byte, 1}, CKR_ATTRIBUTE_VALUE_INVALID,
     CKR_ATTRIBUTE_VALUE_INVALID, CKR_ATTRIBUTE_VALUE_INVALID, CKR_OK},
};

TEST_F(SoftTokenTest, OddTemplateValuesGetCodes) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE source = CreateData(session, false, false, "source");
    for (const TemplateCase& c : kCases) {
        SCOPED_TRACE(c.name);
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE created[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, c.attribute};
        CK_ATTRIBUTE changes[] = {c.attribute};
        CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
        EXPECT_RV(c.create, f->C_CreateObject(session, created, std::size(created), &object));
        EXPECT_RV(c.copy, f->C_CopyObject(session, source, changes, 1, &object));
        EXPECT_RV(c.set, f->C_SetAttributeValue(session, source, changes, 1));
        const CK_RV found = f->C_FindObjectsInit(session, changes, 1);
        EXPECT_RV(c.find, found);
        if (found == CKR_OK) {
            EXPECT_RV(CKR_OK, f->C_FindObjectsFinal(session));
        }
    }
    // An empty label set on the copy reads back empty.
    CK_ATTRIBUTE empty = {CKA_LABEL, &g_byte, 0};
    CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
    ASSERT_RV(CKR_OK, f->C_CopyObject(session, source, &empty, 1, &copy));
    EXPECT_TRUE(Attribute(session, copy, CKA_LABEL).empty());
}

}  // namespace
}  // namespace softtoken_test
