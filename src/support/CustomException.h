#pragma once
// A failure without a PKCS#11 result (missing file, missing module entry, failed check).
#include <exception>
#include <string>

class CustomException : public std::exception {
public:
    explicit CustomException(std::string message);
    explicit CustomException(const char* message);
    ~CustomException() override;

    const char* what() const noexcept override;

private:
    std::string m_message;
};
