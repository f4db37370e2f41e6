#pragma once
// While one lives, the module's failing answers are not recorded for reports: it surrounds
// clean-up calls whose results are ignored, so that a report never names one of them
// instead of the failure that made the clean-up run.
class CIgnoredAnswers {
public:
    // Inactive when `active` is false, for clean-up that only follows a failure.
    explicit CIgnoredAnswers(bool active = true);
    ~CIgnoredAnswers();
    CIgnoredAnswers(const CIgnoredAnswers&) = delete;
    CIgnoredAnswers& operator=(const CIgnoredAnswers&) = delete;

private:
    bool m_active;
};
