#pragma once
// The token operations that need no key material: initialise the token, change the PIN of
// the logged-in user, list the objects the current session can see.
#include <string>

class IBasicOperator {
public:
    virtual ~IBasicOperator() = default;

    virtual void FormatToken() = 0;
    virtual void ChangePin(const std::string& oldPin, const std::string& newPin) = 0;
    virtual void GetObjects() = 0;
};
