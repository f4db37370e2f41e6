#include "ConcurrencyScenarios.h"

#include "ChildProcess.h"
#include "ModuleClient.h"

#include <sqlite3.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <tuple>

namespace softtoken_test {
namespace {

const Bytes kPin = ModuleClient::PinFor(52816037);
const Bytes kTemporaryPin = ModuleClient::PinFor(11223344);
const Bytes kWrongPin = ModuleClient::PinFor(99999999);
constexpr int kSoChangesPerRound = 8;

// A failed call as an answer: below zero, so that it never reads as a count.
long long Failure(CK_RV rv) { return -static_cast<long long>(rv) - 1; }

CK_RV ChangeUserPin(ModuleClient& client, const Bytes& oldPin, const Bytes& newPin) {
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = client.Open(session);
    if (rv != CKR_OK) return rv;
    rv = client.SetPin(session, oldPin, newPin);
    client.Close(session);
    return rv;
}

CK_RV ChangeSoPin(ModuleClient& client, const Bytes& oldPin, const Bytes& newPin) {
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = client.Open(session);
    if (rv != CKR_OK) return rv;
    rv = client.Login(session, CKU_SO, oldPin);
    if (rv == CKR_OK) rv = client.SetPin(session, oldPin, newPin);
    client.Close(session);  // ends the login with the last session
    return rv;
}

CK_RV TryLogin(ModuleClient& client, CK_USER_TYPE user, const Bytes& pin) {
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = client.Open(session);
    if (rv != CKR_OK) return rv;
    rv = client.Login(session, user, pin);
    client.Close(session);
    return rv;
}

// Initialises the token again with whichever of the SO PINs it has now; both PINs are
// kPin afterwards.
CK_RV Reformat(ModuleClient& client, std::initializer_list<Bytes> soPins) {
    for (const Bytes& pin : soPins) {
        if (client.InitToken(pin) != CKR_OK) continue;
        if (pin == kPin) return CKR_OK;
        const CK_RV rv = ChangeSoPin(client, pin, kPin);
        return rv != CKR_OK ? rv : ChangeUserPin(client, pin, kPin);
    }
    return CKR_PIN_INCORRECT;
}

long long RowsInStore(const std::string& path) {
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(opened, sqlite3_close);
    if (rc != SQLITE_OK) return -1;
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT count(*) FROM objects", -1, &prepared, nullptr) != SQLITE_OK) return -1;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> count(prepared, sqlite3_finalize);
    return sqlite3_step(count.get()) == SQLITE_ROW ? sqlite3_column_int64(count.get(), 0) : -1;
}

// A child that loads the module and answers each command with serve's result.
std::function<void(ChildProcess::Channel&)> Serving(
    const std::string& modulePath, std::function<long long(ModuleClient&, ChildProcess::Channel&, char)> serve) {
    return [modulePath, serve](ChildProcess::Channel& channel) {
        ModuleClient client(modulePath);
        for (char command; channel.Next(command);)
            channel.Answer(client.Status() == CKR_OK ? serve(client, channel, command) : Failure(client.Status()));
    };
}

}  // namespace

ConcurrencyScenarios::ConcurrencyScenarios(std::string modulePath, std::string storeDir)
    : m_modulePath(std::move(modulePath)), m_storeDir(std::move(storeDir)) {}

// Children and the parent's own client find the store through the environment.
void ConcurrencyScenarios::UseStore(const std::string& name) {
    m_storePath = m_storeDir + "/" + name + ".db";
    setenv("SOFTTOKEN_STORE", m_storePath.c_str(), 1);
    unsetenv("SOFTTOKEN_SLOTS");
}

PinChangeCounts ConcurrencyScenarios::PinChanges(int rounds) {
    UseStore("pin-changes");
    PinChangeCounts counts;
    int round = 0;  // each child counts the rounds too, one per command
    ChildProcess user(Serving(m_modulePath, [&round](ModuleClient& client, ChildProcess::Channel&, char) {
        return static_cast<long long>(ChangeUserPin(client, kPin, ModuleClient::PinFor(1000 + round++)));
    }));
    ChildProcess so(Serving(m_modulePath, [&round](ModuleClient& client, ChildProcess::Channel&, char) {
        return static_cast<long long>(ChangeSoPin(client, kPin, ModuleClient::PinFor(2000 + round++)));
    }));
    ModuleClient parent(m_modulePath);
    Bytes soPin = kPin;
    for (; round < rounds; ++round) {
        if (parent.Status() != CKR_OK || Reformat(parent, {soPin, kPin}) != CKR_OK) {
            ++counts.failed;
            break;
        }
        user.Send('g');
        so.Send('g');
        const Bytes userPin = ModuleClient::PinFor(1000 + round);
        soPin = ModuleClient::PinFor(2000 + round);
        const long long userAnswer = user.Receive(), soAnswer = so.Receive();
        for (auto [answer, who, pin] : {std::tuple{userAnswer, CK_USER_TYPE(CKU_USER), userPin},
                                        std::tuple{soAnswer, CK_USER_TYPE(CKU_SO), soPin}}) {
            if (answer != CKR_OK) {
                ++counts.failed;
                continue;
            }
            ++counts.changes;
            if (TryLogin(parent, who, pin) != CKR_OK) ++counts.lost;
        }
        ++counts.rounds;
    }
    return counts;
}

LockoutCounts ConcurrencyScenarios::WrongPinsWhileSoPinChanges(int rounds) {
    UseStore("lockout");
    LockoutCounts counts;
    // Each tryer answers the tries refused as wrong before the PIN locked.
    auto tryWrongPins = [](ModuleClient& client, ChildProcess::Channel&, char) -> long long {
        CK_SESSION_HANDLE session = 0;
        CK_RV rv = client.Open(session, false);
        long long refused = 0;
        while (rv == CKR_OK && (rv = client.Login(session, CKU_USER, kWrongPin)) == CKR_PIN_INCORRECT) {
            ++refused;
            rv = CKR_OK;
        }
        client.Close(session);
        return rv == CKR_PIN_LOCKED ? refused : Failure(rv);
    };
    // The SO changes its PIN several times in a row: it answers once after the first change,
    // which lets the tryers start, and again with the number of changes at the end.
    auto changeSoPin = [](ModuleClient& client, ChildProcess::Channel& channel, char) -> long long {
        Bytes pin = kPin;
        for (int changes = 0; changes < kSoChangesPerRound; ++changes) {
            const Bytes next = ModuleClient::PinFor(3000 + changes);
            const CK_RV rv = ChangeSoPin(client, pin, next);
            if (changes == 0) channel.Answer(static_cast<long long>(rv));
            if (rv != CKR_OK) return Failure(rv);
            pin = next;
        }
        return kSoChangesPerRound;
    };
    std::vector<std::unique_ptr<ChildProcess>> tryers;
    for (int i = 0; i < 4; ++i) tryers.push_back(std::make_unique<ChildProcess>(Serving(m_modulePath, tryWrongPins)));
    ChildProcess so(Serving(m_modulePath, changeSoPin));
    ModuleClient parent(m_modulePath);
    Bytes soPin = kPin;
    for (int round = 0; round < rounds; ++round) {
        if (parent.Status() != CKR_OK || Reformat(parent, {soPin, kPin}) != CKR_OK) {
            ++counts.failed;
            break;
        }
        so.Send('g');
        const long long firstChange = so.Receive();
        for (auto& tryer : tryers) tryer->Send('g');
        int total = 0;
        bool failed = false;
        for (auto& tryer : tryers) {
            const long long refused = tryer->Receive();
            failed = failed || refused < 0;
            total += refused > 0 ? static_cast<int>(refused) : 0;
        }
        const long long changes = so.Receive();
        if (failed || changes < 0 || firstChange != CKR_OK) {
            ++counts.failed;
            break;
        }
        counts.soChanges += static_cast<int>(changes);
        soPin = changes > 0 ? ModuleClient::PinFor(3000 + static_cast<int>(changes) - 1) : kPin;
        counts.tries.push_back(total);
        if (total == 10 && TryLogin(parent, CKU_USER, kPin) == CKR_PIN_LOCKED) ++counts.exact;
        if (TryLogin(parent, CKU_SO, soPin) != CKR_OK) ++counts.soPinsLost;
        ++counts.rounds;
    }
    return counts;
}

ReinitCounts ConcurrencyScenarios::ReinitialisationUnderALoggedInSession(int rounds) {
    UseStore("reinit");
    ReinitCounts counts;
    std::array<CK_SESSION_HANDLE, 3> sessions{};
    CK_OBJECT_HANDLE publicObject = 0;
    // 'a': log in on three sessions' token and make a public and a private token object;
    // 'b': use each old session once (answers the calls that worked, then those that did not
    // answer CKR_SESSION_HANDLE_INVALID); 'c': a new session logs in, makes one object and
    // answers how many it sees.
    auto serve = [&](ModuleClient& client, ChildProcess::Channel& channel, char command) -> long long {
        CK_RV rv = CKR_OK;
        CK_OBJECT_HANDLE object = 0;
        if (command == 'a') {
            for (CK_SESSION_HANDLE& session : sessions)
                if (rv == CKR_OK) rv = client.Open(session);
            if (rv == CKR_OK) rv = client.Login(sessions[0], CKU_USER, kPin);
            if (rv == CKR_OK) rv = client.CreateData(sessions[0], true, false, "old public", publicObject);
            if (rv == CKR_OK) rv = client.CreateData(sessions[0], true, true, "old private", object);
            return static_cast<long long>(rv);
        }
        if (command == 'b') {
            std::string label;
            CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
            const std::array<CK_RV, 3> answers = {client.ReadLabel(sessions[0], publicObject, label),
                                                  client.CreateData(sessions[1], true, true, "stale private", object),
                                                  client.GenerateKeyPair(sessions[2], publicKey, privateKey)};
            long long ok = 0, notInvalid = 0;
            for (CK_RV answer : answers) {
                ok += answer == CKR_OK;
                notInvalid += answer != CKR_SESSION_HANDLE_INVALID;
            }
            channel.Answer(ok);
            return notInvalid;
        }
        for (CK_SESSION_HANDLE session : sessions) client.Close(session);  // gone already, unless stale ones live on
        CK_SESSION_HANDLE session = 0;
        CK_ULONG seen = 0;
        rv = client.Open(session);
        if (rv == CKR_OK) rv = client.Login(session, CKU_USER, kPin);
        if (rv == CKR_OK) rv = client.CreateData(session, true, false, "new", object);
        if (rv == CKR_OK) rv = client.CountObjects(session, seen);
        client.Close(session);
        return rv == CKR_OK ? static_cast<long long>(seen) : Failure(rv);
    };
    ChildProcess holder(Serving(m_modulePath, serve));
    ModuleClient parent(m_modulePath);
    if (parent.Status() != CKR_OK || parent.InitToken(kPin) != CKR_OK) return counts;
    for (int round = 0; round < rounds; ++round) {
        holder.Send('a');
        if (holder.Receive() != CKR_OK || parent.InitToken(kPin) != CKR_OK) {
            ++counts.newSessionFailures;
            break;
        }
        holder.Send('b');
        counts.staleCalls += 3;
        counts.staleAnsweredOk += static_cast<int>(holder.Receive());
        counts.staleNotInvalid += static_cast<int>(holder.Receive());
        holder.Send('c');
        const long long seen = holder.Receive();
        if (seen != 1) ++counts.newSessionFailures;
        const long long rows = RowsInStore(m_storePath);
        counts.oldRowsLeft += rows > 1 ? rows - 1 : 0;
        ++counts.rounds;
    }
    return counts;
}

TwoRunCounts ConcurrencyScenarios::TwoRunsAtOnce(int rounds) {
    UseStore("two-runs");
    TwoRunCounts counts;
    // Answers bit 0/1: user PIN set to the temporary one / set back; 2/3 the same for the SO;
    // 4: the key pair could not be made, used or destroyed.
    auto run = [](ModuleClient& client, ChildProcess::Channel&, char) -> long long {
        long long done = 0;
        CK_SESSION_HANDLE session = 0;
        if (client.Open(session) != CKR_OK) return Failure(CKR_GENERAL_ERROR);
        if (client.Login(session, CKU_USER, kPin) == CKR_OK) {
            if (client.SetPin(session, kPin, kTemporaryPin) == CKR_OK) {
                done |= 1;
                if (client.SetPin(session, kTemporaryPin, kPin) == CKR_OK) done |= 2;
            }
            CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
            if (client.GenerateKeyPair(session, publicKey, privateKey) != CKR_OK ||
                client.Sign(session, privateKey) != CKR_OK || client.Destroy(session, privateKey) != CKR_OK ||
                client.Destroy(session, publicKey) != CKR_OK)
                done |= 16;
            client.Logout(session);
        }
        if (client.Login(session, CKU_SO, kPin) == CKR_OK) {
            if (client.SetPin(session, kPin, kTemporaryPin) == CKR_OK) {
                done |= 4;
                if (client.SetPin(session, kTemporaryPin, kPin) == CKR_OK) done |= 8;
            }
            client.Logout(session);
        }
        client.Close(session);
        return done;
    };
    ChildProcess first(Serving(m_modulePath, run));
    ChildProcess second(Serving(m_modulePath, run));
    ModuleClient parent(m_modulePath);
    for (int round = 0; round < rounds; ++round) {
        if (parent.Status() != CKR_OK || Reformat(parent, {kPin, kTemporaryPin}) != CKR_OK) {
            ++counts.failed;
            break;
        }
        first.Send('g');
        second.Send('g');
        for (long long done : {first.Receive(), second.Receive()}) {
            if (done < 0 || (done & 16) != 0) ++counts.failed;
            if (done < 0) continue;
            counts.notSetBack += ((done & 3) == 1) + ((done & 12) == 4);
        }
        counts.pinsNotRestored += (TryLogin(parent, CKU_USER, kPin) != CKR_OK) + (TryLogin(parent, CKU_SO, kPin) != CKR_OK);
        const long long rows = RowsInStore(m_storePath);
        counts.objectsLeft += rows > 0 ? rows : 0;
        ++counts.rounds;
    }
    return counts;
}

}  // namespace softtoken_test
