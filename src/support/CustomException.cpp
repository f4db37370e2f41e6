#include "support/CustomException.h"

#include <utility>

CustomException::CustomException(std::string message) : m_message(std::move(message)) {}

CustomException::CustomException(const char* message) : m_message(message ? message : "") {}

CustomException::CustomException(std::string message, std::optional<CModuleAnswers::Answer> answer)
    : m_message(std::move(message)), m_answer(std::move(answer))
{
}

CustomException::~CustomException() = default;

const char* CustomException::what() const noexcept { return m_message.c_str(); }
