// Runs the concurrency scenarios against a software token module and prints what was lost,
// for comparing builds of the module:
//   softtoken_concurrency_probe MODULE [ROUNDS]
// ROUNDS (default 50) is the number of rounds of the PIN-change scenario; the others run a
// fifth as many (at least 2). Exit status 1 when anything was lost or went wrong.
#include "ConcurrencyScenarios.h"
#include "TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace softtoken_test;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s MODULE [ROUNDS]\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 50;
    const int fewer = std::max(2, rounds / 5);
    TempDir dir("softtoken-probe-");
    ConcurrencyScenarios scenarios(argv[1], dir.Path());

    const PinChangeCounts pins = scenarios.PinChanges(rounds);
    std::printf("PIN changes of two processes at once: %d rounds, %d changes, %d lost, %d failed\n", pins.rounds,
                pins.changes, pins.lost, pins.failed);

    const LockoutCounts lockout = scenarios.WrongPinsWhileSoPinChanges(fewer);
    std::string tries;
    for (int total : lockout.tries) tries += " " + std::to_string(total);
    std::printf("wrong user PINs of 4 processes while the SO PIN changes: %d rounds, %d with exactly 10 tries "
                "(tries:%s), %d SO PIN changes, %d SO PINs lost, %d failed\n",
                lockout.rounds, lockout.exact, tries.c_str(), lockout.soChanges, lockout.soPinsLost, lockout.failed);

    const ReinitCounts reinit = scenarios.ReinitialisationUnderALoggedInSession(fewer);
    std::printf("re-initialisation under a logged-in session: %d rounds, %d calls on old sessions, %d answered "
                "CKR_OK, %d not CKR_SESSION_HANDLE_INVALID, %lld rows of the old token left, %d new sessions failed\n",
                reinit.rounds, reinit.staleCalls, reinit.staleAnsweredOk, reinit.staleNotInvalid, reinit.oldRowsLeft,
                reinit.newSessionFailures);

    const TwoRunCounts runs = scenarios.TwoRunsAtOnce(fewer);
    std::printf("two runs at once: %d rounds, %d temporary PINs not set back, %d PINs not restored, %lld objects "
                "left, %d failed\n",
                runs.rounds, runs.notSetBack, runs.pinsNotRestored, runs.objectsLeft, runs.failed);

    const bool clean = pins.lost + pins.failed == 0 && lockout.exact == lockout.rounds &&
                       lockout.soPinsLost + lockout.failed == 0 && reinit.staleNotInvalid == 0 &&
                       reinit.oldRowsLeft == 0 && reinit.newSessionFailures == 0 &&
                       runs.notSetBack + runs.pinsNotRestored + runs.failed == 0 && runs.objectsLeft == 0;
    return clean ? 0 : 1;
}
