#pragma once
// The one token and the one call recorder behind the fake module's entries and control API.
#include "CallRecorder.h"
#include "FakeToken.h"

namespace fake {

FakeToken& Token();
CallRecorder& Recorder();
// The standard entries as the fake offers them, none null.
void RestoreStandardEntries();

}  // namespace fake
