#pragma once
// The PINs a pass uses: the SO PIN and the user PIN (by default both 52816037), and the
// temporary PIN the PIN change tests set, which is never equal to either of them.
#include <string>

#include <p11-kit/pkcs11.h>

class CTestPins {
public:
    static const char kDefaultPin[];

    CTestPins();
    CTestPins(std::string soPin, std::string userPin);

    const std::string& SoPin() const { return m_soPin; }
    const std::string& UserPin() const { return m_userPin; }
    const std::string& TemporaryPin() const { return m_temporaryPin; }
    // The SO PIN for CKU_SO, the user PIN otherwise.
    const std::string& PinOf(CK_USER_TYPE userType) const;
    // "the default PIN 52816037", or "the PIN given for the run" for one that was set, so
    // that a PIN of the operator's never shows on the console.
    std::string Describe(CK_USER_TYPE userType) const;

private:
    std::string m_soPin;
    std::string m_userPin;
    std::string m_temporaryPin;
};
