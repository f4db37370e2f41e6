#include "support/IgnoredAnswers.h"

#include "support/ModuleAnswers.h"

CIgnoredAnswers::CIgnoredAnswers(bool active) : m_active(active)
{
    if (m_active) {
        CModuleAnswers::BeginIgnoring();
    }
}

CIgnoredAnswers::~CIgnoredAnswers()
{
    if (m_active) {
        CModuleAnswers::EndIgnoring();
    }
}
