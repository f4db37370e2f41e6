// A module library without C_GetFunctionList: loading succeeds, the entry lookup fails.
#include <p11-kit/pkcs11.h>

extern "C" CK_RV FakeModuleWithoutFunctionList() { return CKR_OK; }
