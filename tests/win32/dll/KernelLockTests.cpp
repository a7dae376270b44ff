// TKernelLock alone, the lock behind the library's bookkeeping, against the deaths the host can
// deal its threads: owners and waiters killed at any point, and a dead owner's thread identifier
// handed by the system to the next thread that enters. The test picks which thread gets that
// identifier: it makes threads until the system gives one the dead owner's.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/Win32.h"
#include "terminal/tests/TestMain.h"

namespace {

// How long a thread that should get the lock may take: far beyond any real wait, so that only
// a thread that would wait for ever misses it.
constexpr DWORD Bound = 5000;

class TLockUser;

// Who holds the lock, and how often a thread got in while the one before it still lived and
// had not left: a second owner.
struct TInside {
    std::atomic<TLockUser*> Holder{nullptr};
    std::atomic<int> Overlaps{0};
    void Enter(TLockUser& AUser);
    void Leave() { Holder.store(nullptr); }
};

// A thread that enters the lock when told, says so, holds it until told to leave (or for ever,
// to be killed holding it), and leaves.
class TLockUser {
public:
    TLockUser(TKernelLock& ALock, TInside& AInside) : FLock(ALock), FInside(AInside) {}
    ~TLockUser() {
        if (FThread && WaitForSingleObject(FThread.Get(), 0) == WAIT_TIMEOUT) {
            TerminateThread(FThread.Get(), 9);
            WaitForSingleObject(FThread.Get(), Bound);
        }
    }
    TLockUser(const TLockUser&) = delete;
    TLockUser& operator=(const TLockUser&) = delete;

    // Starts the thread, which goes straight for the lock; false when no thread could be made.
    bool Start() {
        FThread.Reset(CreateThread(nullptr, 0, Run, this, 0, &FId));
        return static_cast<bool>(FThread);
    }
    // Starts it on a thread whose identifier is AId, which the system must have freed; false
    // when the system does not hand that identifier out again within ATries new threads.
    bool StartWithId(DWORD AId, int ATries) {
        for (int i = 0; i < ATries; ++i) {
            DWORD id = 0;
            TKernelHandle thread(CreateThread(nullptr, 0, Run, this, CREATE_SUSPENDED, &id));
            if (!thread)
                return false;
            if (id == AId) {
                FId = id;
                FThread = std::move(thread);
                ResumeThread(FThread.Get());
                return true;
            }
            // Any other thread ends at once, and its identifier joins the free ones.
            FSkip = true;
            ResumeThread(thread.Get());
            WaitForSingleObject(thread.Get(), Bound);
            FSkip = false;
        }
        return false;
    }

    bool WaitEntered(DWORD ADeadline = Bound) const {
        return WaitForSingleObject(FEntered.Get(), ADeadline) == WAIT_OBJECT_0;
    }
    void Leave() { SetEvent(FLeave.Get()); }
    void Suspend() { SuspendThread(FThread.Get()); }
    void Resume() { ResumeThread(FThread.Get()); }
    bool WaitEnded(DWORD ADeadline = Bound) const {
        return WaitForSingleObject(FThread.Get(), ADeadline) == WAIT_OBJECT_0;
    }
    // Kills the thread and lets go of its handle, so that its identifier may be used again.
    DWORD KillAndForget() {
        Kill();
        FThread.Reset();
        return FId;
    }
    void Kill() {
        FKilled = true; // from here on no other thread looks at the handle
        TerminateThread(FThread.Get(), 9);
        WaitForSingleObject(FThread.Get(), Bound);
    }
    // True once the thread is dead or has left the lock for good.
    bool Gone() const { return FKilled || WaitForSingleObject(FThread.Get(), 0) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Run(LPVOID AThis) {
        auto& self = *static_cast<TLockUser*>(AThis);
        if (self.FSkip)
            return 0;
        // These threads wait without the bound: what they test is who gets the lock, not when.
        if (!self.FLock.Enter(INFINITE))
            return 1;
        self.FInside.Enter(self);
        SetEvent(self.FEntered.Get());
        WaitForSingleObject(self.FLeave.Get(), INFINITE);
        self.FInside.Leave();
        self.FLock.Leave();
        return 0;
    }

    TKernelLock& FLock;
    TInside& FInside;
    TKernelHandle FThread;
    DWORD FId = 0;
    std::atomic<bool> FSkip{false};
    std::atomic<bool> FKilled{false};
    TKernelHandle FEntered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TKernelHandle FLeave{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

void TInside::Enter(TLockUser& AUser) {
    TLockUser* before = Holder.exchange(&AUser);
    if (before && !before->Gone())
        ++Overlaps;
}

class KernelLock : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FLock.Init()); }

    // A lock user that enters and holds the lock.
    std::unique_ptr<TLockUser> Holder() {
        auto user = std::make_unique<TLockUser>(FLock, FInside);
        EXPECT_TRUE(user->Start());
        EXPECT_TRUE(user->WaitEntered()) << "a free lock was not taken";
        return user;
    }
    // Lock users that are waiting for the lock.
    std::vector<std::unique_ptr<TLockUser>> Waiters(int ACount) {
        std::vector<std::unique_ptr<TLockUser>> waiters;
        for (int i = 0; i < ACount; ++i) {
            waiters.push_back(std::make_unique<TLockUser>(FLock, FInside));
            EXPECT_TRUE(waiters.back()->Start());
        }
        Sleep(100); // they are inside their wait by now, or get there later: either will do
        return waiters;
    }
    // Each of the users gets the lock in turn and leaves it again.
    void ExpectEachGetsThrough(const std::vector<TLockUser*>& AUsers) {
        for (size_t done = 0; done < AUsers.size(); ++done) {
            TLockUser* in = nullptr;
            for (int tries = 0; !in && tries < int(Bound / 10); ++tries) {
                for (TLockUser* user : AUsers)
                    if (user->WaitEntered(0) && !user->WaitEnded(0)) {
                        in = user;
                        break;
                    }
                if (!in)
                    Sleep(10);
            }
            ASSERT_NE(in, nullptr) << done << " of " << AUsers.size() << " got through";
            in->Leave();
            ASSERT_TRUE(in->WaitEnded());
        }
    }

    static constexpr int ReuseTries = 20000;

    TKernelLock FLock;
    TInside FInside;
};

TEST_F(KernelLock, ADeadOwnersIdentifierReusedByTheNextEntrantGivesItTheLock) {
    for (const int waiting : {0, 2}) {
        SCOPED_TRACE(waiting ? "with waiters" : "without waiters");
        auto owner = Holder();
        auto waiters = Waiters(waiting);
        const DWORD deadId = owner->KillAndForget();
        TLockUser reuser(FLock, FInside);
        if (!reuser.StartWithId(deadId, ReuseTries))
            GTEST_SKIP() << "the system did not hand out identifier " << deadId << " again";
        std::vector<TLockUser*> all{&reuser};
        for (auto& waiter : waiters)
            all.push_back(waiter.get());
        ExpectEachGetsThrough(all);
        EXPECT_EQ(FInside.Overlaps.load(), 0) << "two threads held the lock at once";
    }
}

TEST_F(KernelLock, EntrantsRacingADeadOwnersReusedIdentifierTakeItOneAtATime) {
    auto owner = Holder();
    auto waiters = Waiters(3);
    const DWORD deadId = owner->KillAndForget();
    // The waiters take the lock over while the identifier is handed out again.
    TLockUser reuser(FLock, FInside);
    if (!reuser.StartWithId(deadId, ReuseTries))
        GTEST_SKIP() << "the system did not hand out identifier " << deadId << " again";
    auto late = Waiters(2);
    std::vector<TLockUser*> all{&reuser};
    for (auto* group : {&waiters, &late})
        for (auto& waiter : *group)
            all.push_back(waiter.get());
    ExpectEachGetsThrough(all);
    EXPECT_EQ(FInside.Overlaps.load(), 0) << "two threads held the lock at once";
}

TEST_F(KernelLock, WaitersKilledBeforeOrAfterTheirWakeUpCostTheOthersNothing) {
    struct TCase {
        const char* Name;
        bool AfterWakeUp; // killed holding the lock it was woken for, else while waiting
    };
    for (const TCase& kill :
         {TCase{"killed while waiting", false}, TCase{"killed holding", true}}) {
        SCOPED_TRACE(kill.Name);
        auto owner = Holder();
        auto waiters = Waiters(4);
        std::vector<TLockUser*> survivors;
        if (kill.AfterWakeUp) {
            owner->Leave();
            ASSERT_TRUE(owner->WaitEnded());
            // Whoever was woken is killed before it leaves; so is the next one.
            for (int victims = 0; victims < 2; ++victims) {
                TLockUser* woken = nullptr;
                for (int tries = 0; !woken && tries < int(Bound / 10); ++tries) {
                    for (auto& waiter : waiters)
                        if (waiter->WaitEntered(0) && !waiter->WaitEnded(0))
                            woken = waiter.get();
                    if (!woken)
                        Sleep(10);
                }
                ASSERT_NE(woken, nullptr) << "no waiter was woken";
                woken->Kill();
            }
            for (auto& waiter : waiters)
                if (!waiter->WaitEnded(0))
                    survivors.push_back(waiter.get());
        } else {
            waiters[1]->Kill();
            waiters[2]->Kill();
            owner->Leave();
            ASSERT_TRUE(owner->WaitEnded());
            survivors = {waiters[0].get(), waiters[3].get()};
        }
        ASSERT_EQ(survivors.size(), 2u);
        ExpectEachGetsThrough(survivors);
        EXPECT_EQ(FInside.Overlaps.load(), 0) << "two threads held the lock at once";
    }
}

TEST_F(KernelLock, ALiveOwnerIsNeverTakenOverHoweverLongItHolds) {
    auto owner = Holder();
    auto waiters = Waiters(3);
    for (auto& waiter : waiters)
        EXPECT_FALSE(waiter->WaitEntered(1500)) << "a waiter took the lock from a live owner";
    owner->Leave();
    ASSERT_TRUE(owner->WaitEnded());
    std::vector<TLockUser*> all;
    for (auto& waiter : waiters)
        all.push_back(waiter.get());
    ExpectEachGetsThrough(all);
    EXPECT_EQ(FInside.Overlaps.load(), 0) << "two threads held the lock at once";
}

TEST_F(KernelLock, AWaiterGivesUpOnALiveOwnerThatStopsAtTheBoundAndHoldsNothing) {
    auto owner = Holder();
    owner->Suspend(); // an owner that lives and never comes back by itself
    struct TWait {
        TKernelLock& Lock;
        std::atomic<int> Held{-1};
        // WINAPI: a lambda converts only to the compiler's own calling convention, which is
        // not a thread routine's on i686.
        static DWORD WINAPI Run(LPVOID AWait) {
            auto& self = *static_cast<TWait*>(AWait);
            self.Held.store(self.Lock.Enter() ? 1 : 0);
            return 0;
        }
    } wait{FLock};
    const DWORD began = GetTickCount();
    TKernelHandle waiter(CreateThread(nullptr, 0, TWait::Run, &wait, 0, nullptr));
    ASSERT_TRUE(waiter);
    ASSERT_EQ(WaitForSingleObject(waiter.Get(), TKernelLock::WaitBoundMs + Bound), WAIT_OBJECT_0)
        << "the wait for a live owner is not bounded";
    const DWORD waited = GetTickCount() - began;
    EXPECT_EQ(wait.Held.load(), 0) << "the waiter took the lock of a live owner";
    EXPECT_GE(waited + 100, TKernelLock::WaitBoundMs) << "gave up before the bound";
    // Once the owner goes on and leaves, the lock is free for the next one.
    owner->Resume();
    owner->Leave();
    ASSERT_TRUE(owner->WaitEnded());
    EXPECT_TRUE(FLock.Enter(0));
    FLock.Leave();
}

TEST(KernelLockFailures, ALockThatCouldNotBeMadeOrIsClosedIsNeverHeld) {
    TKernelLock never;
    EXPECT_FALSE(never.Enter());
    TKernelLock closed;
    ASSERT_TRUE(closed.Init());
    closed.Done();
    EXPECT_FALSE(closed.Enter());
}

} // namespace
