// A module library whose C_GetFunctionList reports success but hands out no function list.
#include <p11-kit/pkcs11.h>

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list)
{
    if (list != nullptr) *list = nullptr;
    return CKR_OK;
}
