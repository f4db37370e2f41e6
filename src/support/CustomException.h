#pragma once
// A failure without a PKCS#11 result (missing file, missing module entry, failed check).
#include <exception>
#include <optional>
#include <string>

#include "support/ModuleAnswers.h"

class CustomException : public std::exception {
public:
    explicit CustomException(std::string message);
    explicit CustomException(const char* message);
    // A failure that follows a module answer the caller handled (a refused login).
    CustomException(std::string message, std::optional<CModuleAnswers::Answer> answer);
    ~CustomException() override;

    const char* what() const noexcept override;
    const std::optional<CModuleAnswers::Answer>& ModuleAnswer() const { return m_answer; }

private:
    std::string m_message;
    std::optional<CModuleAnswers::Answer> m_answer;
};
