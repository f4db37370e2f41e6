#pragma once
// The run stopped before using a PIN that the token shows locked or at its final try:
// nothing was tried, so the token loses no PIN attempt. The message names the PIN and why.
#include <string>

#include "support/CustomException.h"

class CPinGuardException : public CustomException {
public:
    explicit CPinGuardException(std::string message);
    ~CPinGuardException() override;
};
