#include "support/ModuleLoadException.h"

#include <utility>

CModuleLoadException::CModuleLoadException(std::string message, std::string moduleLine)
    : CustomException(std::move(message)), m_moduleLine(std::move(moduleLine))
{
}

CModuleLoadException::CModuleLoadException(const CPKCSException& failure, std::string moduleLine)
    : CustomException(failure.m_function), m_pkcsFailure(failure), m_moduleLine(std::move(moduleLine))
{
}

CModuleLoadException::~CModuleLoadException() = default;
