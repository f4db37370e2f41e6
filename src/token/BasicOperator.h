#pragma once
// Token formatting, PIN change and object listing on the slot and session lent by the
// tests operator.
#include <string>
#include <vector>

#include "token/IBasicOperator.h"
#include "token/TestPins.h"
#include "token/TokenOperator.h"

class CBasicOperator : public CTokenOperator, public IBasicOperator {
public:
    CBasicOperator() = default;
    ~CBasicOperator() override = default;

    void FormatToken() override;
    void ChangePin(const std::string& oldPin, const std::string& newPin) override;
    void GetObjects() override;

    // The SO PIN formatting gives the token, and the user PIN it sets after; by default both
    // are the default PIN.
    void SetPins(const CTestPins& pins) { m_pins = pins; }

    // Fills size bytes with blanks and writes the token label over the first ones.
    void GetDefaultLabel(unsigned char* label, unsigned long size);

    // The SO logs in with the default SO PIN on a session of its own and sets the user PIN
    // to `userPin`; a module error is thrown under `operation`.
    void SetUserPinAsSo(const std::vector<unsigned char>& userPin, const char* operation);

private:
    // After C_InitToken: where the token left the user PIN unset, or set it to the SO PIN
    // while the run's user PIN is another, the SO sets the run's user PIN.
    void InitUserPinIfUnset();
    // Reads one attribute with the two-call length protocol; the result holds exactly the
    // bytes the module delivered.
    std::string ReadAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);

    CTestPins m_pins;
};
