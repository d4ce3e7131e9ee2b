// The lock manager of the running server on the wire (nlm_test.sh): handles
// from MOUNT and LOOKUP over TCP, the fake client of nlm_test_client.h with
// its callback service registered over UDP (the server serves TCP only).
// --nlm-folder=PATH names the export's folder, to look at the Windows locks.
#include <gtest/gtest.h>

#include <string>

#include "wire.h"
#include "support/nlm_test_client.h"
#include "support/pmap_test_calls.h"
#include "support/temp_dir.h"

namespace {

const uint64_t END = UINT64_MAX;

std::string Folder()
{
    for (const std::string &arg : ::testing::internal::GetArgvs())
        if (arg.rfind("--nlm-folder=", 0) == 0)
            return arg.substr(13);
    return "";
}

std::string MountOverTcp(const std::string &path)
{
    return MountHandle(path, 3, "127.0.0.1", true);
}

// A call to the server's status monitor over TCP, at the port its port
// mapper names.
RpcReplyView StatusMonitorCall(uint32_t proc, const std::string &args)
{
    uint32_t port = MapCall(3, 100024, 1, 6, 0);
    RpcTcpClient statd;
    std::string reply;
    bool answered = port > 0 && port < 65536 && statd.Connect(RpcTestAddress(static_cast<uint16_t>(port))) &&
                    statd.Call(NullAuthCall(NextXid(), 100024, 1, proc, args), &reply, 5000);
    return answered ? ParseReply(reply) : RpcReplyView();
}

class NlmLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = MountOverTcp("/data");
        for (int i = 0; i < 4; i++) {
            fh_[i] = Lookup(root_, "f" + std::to_string(i), true);
            ASSERT_FALSE(fh_[i].empty());
        }
        roFh_ = Lookup(MountOverTcp("/ro"), "kept.txt", true);
        ASSERT_FALSE(roFh_.empty());
        ASSERT_NE(nullptr, client_);
    }
    // One client for all: its registrations stay until the end (an UNSET
    // names no protocol, so it would take the server's own as well).
    static void SetUpTestSuite()
    {
        client_ = new NlmTestClient(4045, 111);
        client_->UseUnixCredential(1000, 1000);
        for (uint32_t vers : {1u, 3u, 4u}) {
            if (!client_->Register(vers)) {
                delete client_;
                client_ = nullptr;
                return;
            }
        }
    }
    static void TearDownTestSuite()
    {
        delete client_;
        client_ = nullptr;
    }

    // A lock of file i (or of the handle fh); versions 1 and 3 carry the
    // 32-byte version 2 form of the handle (the version 3 one zero-padded).
    NlmTestLock LockOf(int i, uint32_t svid, uint64_t offset, uint64_t length, uint32_t vers = 4,
                       const std::string *fh = nullptr)
    {
        NlmTestLock lock{"fakeclient", fh != nullptr ? *fh : fh_[i], std::to_string(svid) + "@live", svid, offset,
                         length, false};
        if (vers != 4)
            lock.fh.resize(32, '\0');
        return lock;
    }
    // Whether a Windows program on the server could lock bytes of file i.
    bool WindowsCanLock(int i, uint32_t offset, uint32_t length)
    {
        std::string path = Folder() + "\\f" + std::to_string(i);
        HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, other) << path;
        bool locked = LockFile(other, offset, 0, length, 0) != FALSE;
        CloseHandle(other);
        return locked;
    }

    std::string fh_[4];
    std::string roFh_;
    std::string root_;
    static NlmTestClient *client_;
};
NlmTestClient *NlmLive::client_ = nullptr;

TEST_F(NlmLive, BlockedLockIsGrantedByCallbackAndTheWindowsLockOutlivesIdleTime)
{
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 100), true));
    EXPECT_EQ(3u, client_->Lock(LockOf(0, 2, 50, 100), true, true));
    NlmTestResult holder = client_->Test(LockOf(0, 3, 99, 1), false);
    EXPECT_TRUE(holder.stat == 1 && holder.svid == 1 && holder.oh == "1@live" && holder.length == 100);
    // The cache closes idle handles within two seconds; one holding locks
    // stays open, and so does its Windows lock.
    Sleep(3000);
    EXPECT_FALSE(WindowsCanLock(0, 99, 1));
    EXPECT_TRUE(WindowsCanLock(0, 100, 1));

    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 100)));
    NlmTestCallback granted;
    ASSERT_TRUE(client_->AwaitCallback(&granted, 10000, 0));
    EXPECT_TRUE(granted.proc == 5 && granted.lock.svid == 2 && granted.lock.offset == 50 &&
                granted.lock.length == 100 && granted.lock.fh == fh_[0]);
    EXPECT_EQ(2u, client_->Test(LockOf(0, 3, 60, 1), false).svid);
    EXPECT_TRUE(WindowsCanLock(0, 0, 50));
    EXPECT_FALSE(WindowsCanLock(0, 149, 1));
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 2, 0, 0)));
    EXPECT_TRUE(WindowsCanLock(0, 0, 1000));
}

TEST_F(NlmLive, CancelRemovesAWaitingRequest)
{
    ASSERT_EQ(0u, client_->Lock(LockOf(1, 1, 0, 0), true));
    EXPECT_EQ(3u, client_->Lock(LockOf(1, 2, 0, 0), false, true));
    EXPECT_EQ(0u, client_->Result(4, 3, NlmCancelArgs(4, "cancel", true, false, LockOf(1, 2, 0, 0))).stat);
    EXPECT_EQ(0u, client_->Unlock(LockOf(1, 1, 0, 0)));
    NlmTestCallback none;
    EXPECT_FALSE(client_->AwaitCallback(&none, 1500));
    EXPECT_EQ(0u, client_->Test(LockOf(1, 3, 0, 0), true).stat);
}

TEST_F(NlmLive, RangesOfEveryVersion)
{
    for (uint32_t vers : {1u, 3u, 4u}) {
        SCOPED_TRACE(vers);
        const int f = 2;
        // Length 0 reaches to the end of the file, wherever it begins.
        ASSERT_EQ(0u, client_->Lock(LockOf(f, 1, 5, 0, vers), true, false, vers));
        NlmTestResult holder = client_->Test(LockOf(f, 2, 4000000000u, 1, vers), false, vers);
        EXPECT_TRUE(holder.stat == 1 && holder.offset == 5 && holder.length == 0);
        EXPECT_EQ(0u, client_->Test(LockOf(f, 2, 0, 5, vers), true, vers).stat);
        EXPECT_EQ(0u, client_->Unlock(LockOf(f, 1, 0, 0, vers), vers));
        // A 32-bit range that passes 2^32 does not wrap to the start.
        ASSERT_EQ(0u, client_->Lock(LockOf(f, 1, 0xFFFFFFF0u, 0x20, vers), true, false, vers));
        EXPECT_EQ(0u, client_->Lock(LockOf(f, 2, 0, 0x10, vers), true, false, vers));
        EXPECT_EQ(0u, client_->Unlock(LockOf(f, 1, 0, 0, vers), vers));
        EXPECT_EQ(0u, client_->Unlock(LockOf(f, 2, 0, 0, vers), vers));
    }
    // Version 4: a range ending at 2^64 - 1, beyond what Windows can lock.
    ASSERT_EQ(0u, client_->Lock(LockOf(3, 1, END - 9, 10), true));
    NlmTestResult holder = client_->Test(LockOf(3, 2, END, 1), false);
    EXPECT_TRUE(holder.stat == 1 && holder.offset == END - 9 && holder.length == 0);
    EXPECT_EQ(0u, client_->Lock(LockOf(3, 2, END - 19, 10), true));
    EXPECT_EQ(1u, client_->Lock(LockOf(3, 2, END - 10, 2), false));
    EXPECT_EQ(0u, client_->Unlock(LockOf(3, 1, 0, 0)));
    EXPECT_EQ(0u, client_->Unlock(LockOf(3, 2, 0, 0)));
}

TEST_F(NlmLive, MessageFormsAreAnsweredWithResCalls)
{
    const uint32_t procs[] = {7, 6, 9, 8};  // LOCK_MSG, TEST_MSG (another owner), UNLOCK_MSG, CANCEL_MSG
    const std::string args[] = {
        NlmLockArgs(4, "m7", false, true, LockOf(0, 1, 0, 10)),
        NlmTestArgs(4, "m6", true, LockOf(0, 2, 5, 1)),
        NlmUnlockArgs(4, "m9", LockOf(0, 1, 0, 10)),
        NlmCancelArgs(4, "m8", false, true, LockOf(0, 1, 0, 10)),
    };
    const uint32_t stats[] = {0, 1, 0, 0};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(procs[i]);
        RpcReplyView reply = client_->Call(4, procs[i], args[i], true);
        EXPECT_TRUE(reply.valid && reply.accept_stat == 0 && reply.results.empty());
        NlmTestCallback answer;
        ASSERT_TRUE(client_->AwaitCallback(&answer, 10000));
        EXPECT_TRUE(answer.proc == procs[i] + 5 && answer.result.cookie == "m" + std::to_string(procs[i]) &&
                    answer.result.stat == stats[i] && (procs[i] != 6 || answer.result.svid == 1));
    }
}

TEST_F(NlmLive, HandlesAreCheckedLikeNfsRequests)
{
    // A read-only export takes shared locks only; a handle whose check word
    // is wrong; a version 3 request with a short handle.
    EXPECT_EQ(6u, client_->Lock(LockOf(0, 1, 0, 1, 4, &roFh_), true));
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 1, 4, &roFh_), false));
    EXPECT_EQ(1u, client_->Test(LockOf(0, 2, 0, 1, 4, &roFh_), true).stat);
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 1, 4, &roFh_)));
    std::string bad = fh_[0];
    bad[16] = static_cast<char>(bad[16] ^ 0x5A);
    EXPECT_EQ(7u, client_->Lock(LockOf(0, 1, 0, 1, 4, &bad), true));
    NlmTestLock shortHandle = LockOf(0, 1, 0, 1);
    shortHandle.fh.resize(20);
    EXPECT_EQ(4u, client_->Call(3, 2, NlmLockArgs(3, "x", false, true, shortHandle), true).accept_stat);
}

TEST_F(NlmLive, ARestartNoticeFreesTheClientsLocksAndGrantsAWaiter)
{
    NlmTestLock rebooted = LockOf(1, 1, 0, 0);
    rebooted.caller = "rebooted";
    ASSERT_EQ(0u, client_->Lock(rebooted, true));
    ASSERT_EQ(3u, client_->Lock(LockOf(1, 2, 0, 0), true, true));
    // Names compare without case.
    RpcReplyView reply = StatusMonitorCall(6, CountedOpaque("REBOOTED") + Words({3}));
    EXPECT_TRUE(reply.valid && reply.accept_stat == 0 && reply.results.empty());
    NlmTestCallback granted;
    ASSERT_TRUE(client_->AwaitCallback(&granted, 10000, 0));
    EXPECT_EQ(2u, granted.lock.svid);
    EXPECT_EQ(0u, client_->Unlock(LockOf(1, 2, 0, 0)));
}

TEST_F(NlmLive, LocksOfAFileRemovedWhileLockedAreStillFoundAndReleased)
{
    std::string gone = Lookup(root_, "gone", true);
    ASSERT_FALSE(gone.empty());
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 0, 4, &gone), true));
    RpcReplyView removed = NfsCall(UnixCall(3, 12, CountedOpaque(root_) + CountedOpaque("gone")), true);
    ASSERT_TRUE(removed.valid && removed.accept_stat == 0 && WordAt(removed.results, 0) == 0);
    EXPECT_EQ(1u, client_->Test(LockOf(0, 2, 0, 1, 4, &gone), true).stat);
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 0, 4, &gone)));
    EXPECT_EQ(0u, client_->Test(LockOf(0, 2, 0, 1, 4, &gone), true).stat);
}

TEST_F(NlmLive, AFullOpenFileCacheRefusesTheLockItCannotKeep)
{
    // The export "one" keeps one open file: a lock on a second file would
    // need a handle of its own, which closing would drop.
    std::string one = MountOverTcp("/one"), a = Lookup(one, "a", true), b = Lookup(one, "b", true);
    ASSERT_FALSE(a.empty() || b.empty());
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 0, 4, &a), true));
    EXPECT_EQ(2u, client_->Lock(LockOf(0, 1, 0, 0, 4, &b), true));
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 0, 4, &a)));
    Sleep(2500);  // the sweeper closes a's handle
    EXPECT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 0, 4, &b), true));
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 0, 4, &b)));
}

TEST_F(NlmLive, AHandleWhosePathNowLeadsThroughALinkIsStale)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's CreateSymbolicLinkW returns TRUE and creates nothing";
    std::string x = Lookup(Lookup(root_, "sub", true), "x", true);
    ASSERT_FALSE(x.empty());
    // The folder is replaced by a link to a folder outside the export.
    const std::string data = Folder();
    const std::string outside = data.substr(0, data.size() - 4) + "outside";
    ASSERT_TRUE(MoveFileA((data + "\\sub").c_str(), (data + "\\sub-moved").c_str()));
    ASSERT_TRUE(CreateSymbolicLinkA((data + "\\sub").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    EXPECT_EQ(7u, client_->Lock(LockOf(0, 1, 0, 0, 4, &x), true));
}

// Around a kill and a new start of the server (nlm_test.sh runs them in
// this order): the client that held a lock is told, reclaims it in the grace
// period (LockGrace), and other locks wait for its end.
NlmTestLock RestartLock(NlmTestClient &client, const std::string &file, uint32_t svid)
{
    client.UseUnixCredential(1000, 1000);
    return NlmTestLock{"fakeclient", Lookup(MountOverTcp("/data"), file, true), std::to_string(svid) + "@restart", svid,
                       0, 0, false};
}

TEST(NlmRestart, BeforeTheKill)
{
    NlmTestClient client(4045, 111);
    ASSERT_EQ(0u, client.Lock(RestartLock(client, "f3", 1), true));
}

TEST(NlmRestart, AfterTheStart)
{
    NlmTestClient client(4045, 111);
    ASSERT_TRUE(client.Register(1, 100024));
    NlmTestCallback notice;
    ASSERT_TRUE(client.AwaitCallback(&notice, 20000));
    EXPECT_TRUE(notice.proc == 6 && !notice.monName.empty() && notice.state == 3);  // the second start
    NlmTestLock reclaim = RestartLock(client, "f3", 1);
    reclaim.reclaim = true;
    EXPECT_EQ(0u, client.Lock(reclaim, true));
    const NlmTestLock other = RestartLock(client, "f2", 2);
    uint32_t stat = client.Lock(other, true);
    EXPECT_EQ(4u, stat);  // DENIED_GRACE_PERIOD
    for (int i = 0; i < 60 && stat == 4; i++) {
        Sleep(500);
        stat = client.Lock(other, true);
    }
    EXPECT_EQ(0u, stat);
    EXPECT_EQ(1u, client.Lock(RestartLock(client, "f3", 2), true));  // the reclaimed lock holds
}

}  // namespace
