#include "standard/CreatedObjects.h"

#include "standard/ModuleCall.h"
#include "support/IgnoredAnswers.h"

CCreatedObjects::CCreatedObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session)
    : m_functions(functions), m_session(session)
{
}

// Newest first; a destruction that fails cannot be helped and must not hide the first failure.
CCreatedObjects::~CCreatedObjects()
{
    const CIgnoredAnswers cleanUp(!m_handles.empty());
    for (auto it = m_handles.rbegin(); it != m_handles.rend(); ++it)
        CModuleCall::Result(m_functions->C_DestroyObject, m_session, *it);
}

CK_OBJECT_HANDLE CCreatedObjects::Create(CAttributeTemplate& attributes)
{
    m_handles.reserve(m_handles.size() + 1);  // so that recording the handle cannot fail
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CModuleCall::Run("C_CreateObject", m_functions->C_CreateObject, m_session, attributes.Attributes(),
                     attributes.Count(), &handle);
    m_handles.push_back(handle);
    return handle;
}
