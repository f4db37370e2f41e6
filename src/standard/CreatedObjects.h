#pragma once
// The objects one standard-call entry creates: all of them are destroyed again unless the
// entry keeps them, so a failure half-way leaves the token as it was.
#include "standard/AttributeTemplate.h"

#include <p11-kit/pkcs11.h>

#include <vector>

class CCreatedObjects {
public:
    CCreatedObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session);
    CCreatedObjects(const CCreatedObjects&) = delete;
    CCreatedObjects& operator=(const CCreatedObjects&) = delete;
    ~CCreatedObjects();

    // C_CreateObject; a failure throws CPKCSException with the module's code.
    CK_OBJECT_HANDLE Create(CAttributeTemplate& attributes);
    void Keep() { m_handles.clear(); }

private:
    CK_FUNCTION_LIST* m_functions;
    CK_SESSION_HANDLE m_session;
    std::vector<CK_OBJECT_HANDLE> m_handles;
};
