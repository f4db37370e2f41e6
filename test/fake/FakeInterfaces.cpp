// The PKCS#11 3.0 interface entries of the fake's interfaces build: linked only into that
// build, so the plain fake exports no C_GetInterface.
#include "FakeState.h"

extern "C" CK_RV C_GetInterfaceList(CK_INTERFACE* list, CK_ULONG* count) { return fake::GetInterfaceList(list, count); }

extern "C" CK_RV C_GetInterface(CK_UTF8CHAR* name, CK_VERSION* version, CK_INTERFACE** found, CK_FLAGS flags)
{
    return fake::GetInterface(name, version, found, flags);
}
