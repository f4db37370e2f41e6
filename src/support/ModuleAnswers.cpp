#include "support/ModuleAnswers.h"

#include <deque>
#include <utility>

namespace {

// Enough for the clean-up calls that may follow a failure before it is reported.
const size_t kKeptAnswers = 8;

struct Kept {
    std::deque<CModuleAnswers::Answer> answers;
    int ignoring = 0;
};

Kept& TheRecord()
{
    static Kept record;
    return record;
}

}  // namespace

void CModuleAnswers::Record(Answer answer)
{
    Kept& record = TheRecord();
    if (record.ignoring > 0) {
        return;
    }
    if (record.answers.size() == kKeptAnswers) {
        record.answers.pop_front();
    }
    record.answers.push_back(std::move(answer));
}

std::optional<CModuleAnswers::Answer> CModuleAnswers::Latest(CK_RV rv)
{
    const std::deque<Answer>& answers = TheRecord().answers;
    for (auto it = answers.rbegin(); it != answers.rend(); ++it) {
        if (it->rv == rv) {
            return *it;
        }
    }
    return std::nullopt;
}

void CModuleAnswers::Clear() { TheRecord().answers.clear(); }

void CModuleAnswers::BeginIgnoring() { ++TheRecord().ignoring; }

void CModuleAnswers::EndIgnoring() { --TheRecord().ignoring; }
