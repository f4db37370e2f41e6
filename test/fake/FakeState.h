#pragma once
// The one token and the one call recorder behind the fake module's entries and control API.
#include "CallRecorder.h"
#include "FakeToken.h"
#include "tokentest/VendorFunctionList.h"

namespace fake {

FakeToken& Token();
CallRecorder& Recorder();
// The standard entries as the fake offers them, none null.
void RestoreStandardEntries();

// What the interfaces build exports as C_GetInterfaceList and C_GetInterface.
CK_RV GetInterfaceList(CK_INTERFACE* list, CK_ULONG* count);
CK_RV GetInterface(CK_UTF8CHAR* name, CK_VERSION* version, CK_INTERFACE** found, CK_FLAGS flags);

}  // namespace fake
