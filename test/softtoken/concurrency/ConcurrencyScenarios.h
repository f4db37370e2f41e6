#pragma once
// Several processes on one store of the software token at once, each scenario run for a
// number of rounds; the counts say what was lost or went wrong. Each scenario starts a
// fresh store under the given directory and its own child processes, driven through pipes.
#include <string>
#include <vector>

namespace softtoken_test {

struct PinChangeCounts {
    int rounds = 0;
    int changes = 0;  // reported done by the child that made them
    int lost = 0;     // reported done, yet the new PIN does not log in afterwards
    int failed = 0;   // a call of a child that should have worked did not
};

struct LockoutCounts {
    int rounds = 0;
    int exact = 0;           // rounds with exactly ten refused tries before the lock
    std::vector<int> tries;  // refused tries of each round, all processes together
    int soChanges = 0;       // SO PIN changes made meanwhile
    int soPinsLost = 0;      // rounds after which the last SO PIN set did not log in
    int failed = 0;
};

struct ReinitCounts {
    int rounds = 0;
    int staleCalls = 0;        // calls made on sessions of the older generation
    int staleAnsweredOk = 0;
    int staleNotInvalid = 0;   // answered anything but CKR_SESSION_HANDLE_INVALID
    long long oldRowsLeft = 0; // store rows beyond what the new generation made
    int newSessionFailures = 0;
};

struct TwoRunCounts {
    int rounds = 0;
    int notSetBack = 0;     // a run set the temporary PIN and could not set it back
    int pinsNotRestored = 0;  // after the round the PIN was not the one both runs left
    long long objectsLeft = 0;  // both runs destroy what they make
    int failed = 0;
};

class ConcurrencyScenarios {
public:
    ConcurrencyScenarios(std::string modulePath, std::string storeDir);

    // A user PIN and the SO PIN changed by two processes at once.
    PinChangeCounts PinChanges(int rounds);
    // Four processes trying wrong user PINs while a fifth changes the SO PIN.
    LockoutCounts WrongPinsWhileSoPinChanges(int rounds);
    // A process logged in with objects while another re-initialises the token.
    ReinitCounts ReinitialisationUnderALoggedInSession(int rounds);
    // What two utility runs without formatting do at once: each PIN changed to the same
    // temporary PIN and back, a key pair made, used and destroyed.
    TwoRunCounts TwoRunsAtOnce(int rounds);

private:
    void UseStore(const std::string& name);
    std::string m_modulePath;
    std::string m_storeDir;
    std::string m_storePath;
};

}  // namespace softtoken_test
