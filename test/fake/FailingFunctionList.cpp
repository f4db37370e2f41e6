// A module library whose C_GetFunctionList refuses to hand out its function list.
#include <p11-kit/pkcs11.h>

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list)
{
    if (list != nullptr) *list = nullptr;
    return CKR_FUNCTION_FAILED;
}
