#include "support/PKCSException.h"

CPKCSException::CPKCSException(CK_RV rv, const char* function)
    : m_rv(rv), m_function(function ? function : ""), m_answer(CModuleAnswers::Latest(rv))
{
}

CPKCSException::~CPKCSException() = default;
