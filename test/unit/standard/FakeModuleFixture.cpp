#include "FakeModuleFixture.h"

#include "TestSupport.h"

#include <sstream>

namespace standard_test {

void FakeModuleTest::SetUp()
{
    fake::Reset();
    fake::AddSlot(kSlot, "Standard calls test slot");
    CK_FUNCTION_LIST* module = nullptr;
    ASSERT_EQ(C_GetFunctionList(&module), CKR_OK);
    m_list = *module;
    ASSERT_EQ(m_list.C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(m_list.C_OpenSession(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_session), CKR_OK);
    fake::ClearCalls();
}

void FakeModuleTest::TearDown() { m_list.C_Finalize(nullptr); }

std::vector<fake::Call> FakeModuleTest::CallsNamed(const std::string& name)
{
    std::vector<fake::Call> found;
    for (const fake::Call& call : fake::Calls())
        if (call.name == name) found.push_back(call);
    return found;
}

std::string FakeModuleTest::Describe(const std::vector<fake::Attribute>& attributes)
{
    std::ostringstream text;
    for (const fake::Attribute& attribute : attributes)
        text << "type=0x" << std::hex << attribute.type << std::dec << " value="
             << crypto::test::ToHex(attribute.value) << "\n";
    return text.str();
}

}  // namespace standard_test
