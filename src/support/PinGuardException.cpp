#include "support/PinGuardException.h"

#include <utility>

CPinGuardException::CPinGuardException(std::string message) : CustomException(std::move(message)) {}

CPinGuardException::~CPinGuardException() = default;
