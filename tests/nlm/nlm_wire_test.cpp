// The lock manager on the wire, in this process: the port mapper on a free
// port, nlmd over TCP bound to four temporary files, and the fake client,
// whose callback service is registered over UDP with our port mapper (over
// TCP our own registration answers, which the server recognises and skips).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "nlm/nlm_handle_locks.h"
#include "nlm/nlm_protocol.h"
#include "nlm/nlm_service.h"
#include "platform/win32.h"
#include "rpc/port_mapper.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/transport.h"
#include "settings/settings.h"
#include "support/nlm_test_client.h"
#include "support/temp_dir.h"

namespace {

const uint64_t END = UINT64_MAX;
const int FILES = 4;

struct TestFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
};
TestFile Files[FILES];

// File handles name a file by their first byte; 0xEE does not resolve.
uint32_t Acquire(const NlmFileRequest *request, bool, void **file)
{
    uint8_t id = request->lock->fhLength > 0 ? request->lock->fh[0] : 0xEE;
    if (id >= FILES)
        return NLM_STALE_FH;
    *file = &Files[id];
    return NLM_GRANTED;
}
void Release(void *) {}
bool LockRange(void *file, uint64_t first, uint64_t last)
{
    return NlmLockHandleRange(static_cast<TestFile *>(file)->handle, first, last);
}
void UnlockRange(void *file, uint64_t first, uint64_t last)
{
    NlmUnlockHandleRange(static_cast<TestFile *>(file)->handle, first, last);
}
void Refer(void *, int) {}
const NlmFileBinding Binding = {Acquire, Release, {LockRange, UnlockRange, Refer}};

uint16_t FreePort()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = RpcTestAddress(0, "0.0.0.0");
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    closesocket(s);
    return ntohs(a.sin_port);
}

NlmTestLock LockOf(int file, uint32_t svid, uint64_t offset, uint64_t length, uint32_t vers = 4)
{
    NlmTestLock lock;
    lock.fh = std::string(vers == 4 ? 20 : 32, '\0');
    lock.fh[0] = static_cast<char>(file);
    lock.svid = svid;
    lock.oh = std::to_string(svid) + "@fake";
    lock.offset = offset;
    lock.length = length;
    return lock;
}

class NlmWireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RpcTestStartup());
        for (int i = 0; i < FILES; i++) {
            Files[i].path = dir_.Win("file" + std::to_string(i));
            Files[i].handle = CreateFileA(Files[i].path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, Files[i].handle);
        }
        RPCTIMEOUT = 1;
        PortMapperRegistration = 1;
        PmapResetTable();
        PmapPort = FreePort();
        ASSERT_EQ(0, PortMapperStart(1));
        ResetTransports();
        ServerSettings.NLM = 1;
        ServerSettings.UDP = 0;
        ServerSettings.TCP = 1;
        ServerSettings.Version2 = 1;
        ServerSettings.Version3 = 1;
        NlmSetFileBinding(&Binding);
        ASSERT_EQ(NLM_START_OK, NlmStart(0));
        server_ = std::thread(ServerLoop);
        client_ = new NlmTestClient(NlmServicePort(), PmapPort);
        for (uint32_t vers : {1u, 3u, 4u})
            ASSERT_TRUE(client_->Register(vers));
    }

    void TearDown() override
    {
        delete client_;
        NlmStop();
        PortMapperStop();
        StopTransports();
        if (server_.joinable())
            server_.join();
        PmapResetTable();
        PmapPort = PMAP_PORT;
        RPCTIMEOUT = 2;
        for (TestFile &f : Files) {
            NlmReleaseFile(&f);
            CloseHandle(f.handle);
        }
    }

    // A call of the plain procedures; the result record (ok false on any
    // other reply).
    NlmTestResult Call(uint32_t vers, uint32_t proc, const std::string &args)
    {
        RpcReplyView reply = client_->Call(vers, proc, args, true);
        if (!reply.valid || reply.reply_stat != 0 || reply.accept_stat != 0)
            return NlmTestResult();
        return NlmParseResult(reply.results, vers, proc == 1);
    }
    uint32_t Lock(const NlmTestLock &lock, bool exclusive, bool block = false, uint32_t vers = 4)
    {
        return Call(vers, 2, NlmLockArgs(vers, "lock", block, exclusive, lock)).stat;
    }
    uint32_t Unlock(const NlmTestLock &lock, uint32_t vers = 4)
    {
        return Call(vers, 4, NlmUnlockArgs(vers, "unlock", lock)).stat;
    }
    NlmTestResult Test(const NlmTestLock &lock, bool exclusive, uint32_t vers = 4)
    {
        return Call(vers, 1, NlmTestArgs(vers, "test", exclusive, lock));
    }
    // Whether a Windows program could lock bytes of a file now.
    bool WindowsCanLock(int file, uint32_t offset, uint32_t length)
    {
        HANDLE other = CreateFileA(Files[file].path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        bool locked = LockFile(other, offset, 0, length, 0) != FALSE;
        CloseHandle(other);
        return locked;
    }

    TempDir dir_;
    std::thread server_;
    NlmTestClient *client_ = nullptr;
};

TEST_F(NlmWireTest, BlockedLockIsGrantedByCallbackWhenTheHolderUnlocks)
{
    NlmTestResult locked = Call(4, 2, NlmLockArgs(4, "c1", false, true, LockOf(0, 1, 0, 100)));
    ASSERT_TRUE(locked.ok);
    EXPECT_EQ("c1", locked.cookie);
    EXPECT_EQ(0u, locked.stat);
    EXPECT_FALSE(WindowsCanLock(0, 99, 1));
    EXPECT_TRUE(WindowsCanLock(0, 100, 1));

    EXPECT_EQ(3u, Lock(LockOf(0, 2, 50, 100), true, true));
    NlmTestResult holder = Test(LockOf(0, 2, 50, 100), true);
    ASSERT_TRUE(holder.ok);
    EXPECT_EQ(1u, holder.stat);
    EXPECT_TRUE(holder.exclusive);
    EXPECT_EQ(1u, holder.svid);
    EXPECT_EQ("1@fake", holder.oh);
    EXPECT_EQ(0u, holder.offset);
    EXPECT_EQ(100u, holder.length);

    EXPECT_EQ(0u, Unlock(LockOf(0, 1, 0, 100)));
    NlmTestCallback granted;
    ASSERT_TRUE(client_->AwaitCallback(&granted, 5000, 0));
    EXPECT_EQ(5u, granted.proc);
    EXPECT_EQ(4u, granted.vers);
    EXPECT_EQ("korvane", granted.cookie);
    EXPECT_TRUE(granted.exclusive);
    EXPECT_EQ(2u, granted.lock.svid);
    EXPECT_EQ("2@fake", granted.lock.oh);
    EXPECT_EQ(50u, granted.lock.offset);
    EXPECT_EQ(100u, granted.lock.length);
    EXPECT_EQ(LockOf(0, 2, 50, 100).fh, granted.lock.fh);
    EXPECT_EQ(2u, Test(LockOf(0, 1, 60, 1), false).svid);
    EXPECT_FALSE(WindowsCanLock(0, 149, 1));
    EXPECT_TRUE(WindowsCanLock(0, 0, 50));
}

TEST_F(NlmWireTest, CancelRemovesAWaitingRequest)
{
    ASSERT_EQ(0u, Lock(LockOf(1, 1, 0, 0), true));
    EXPECT_EQ(3u, Lock(LockOf(1, 2, 0, 0), false, true));
    NlmTestResult cancelled = Call(4, 3, NlmCancelArgs(4, "cancel", true, false, LockOf(1, 2, 0, 0)));
    EXPECT_TRUE(cancelled.ok);
    EXPECT_EQ(0u, cancelled.stat);
    EXPECT_EQ(0u, Unlock(LockOf(1, 1, 0, 0)));
    NlmTestCallback none;
    EXPECT_FALSE(client_->AwaitCallback(&none, 1500));
    EXPECT_EQ(0u, Test(LockOf(1, 3, 0, 0), true).stat);
    EXPECT_TRUE(WindowsCanLock(1, 0, 1000));
}

TEST_F(NlmWireTest, RangesOfEveryVersion)
{
    for (uint32_t vers : {1u, 3u, 4u}) {
        SCOPED_TRACE(vers);
        int file = vers == 1 ? 0 : vers == 3 ? 1 : 2;
        // Length 0 reaches to the end of the file, wherever it begins.
        ASSERT_EQ(0u, Lock(LockOf(file, 1, 5, 0, vers), true, false, vers));
        NlmTestResult holder = Test(LockOf(file, 2, 4000000000u, 1, vers), false, vers);
        EXPECT_EQ(1u, holder.stat);
        EXPECT_EQ(5u, holder.offset);
        EXPECT_EQ(0u, holder.length);
        EXPECT_EQ(0u, Test(LockOf(file, 2, 0, 5, vers), true, vers).stat);
        EXPECT_EQ(0u, Unlock(LockOf(file, 1, 0, 0, vers), vers));
        // A 32-bit range that passes 2^32 does not wrap to the start.
        ASSERT_EQ(0u, Lock(LockOf(file, 1, 0xFFFFFFF0u, 0x20, vers), true, false, vers));
        EXPECT_EQ(0u, Lock(LockOf(file, 2, 0, 0x10, vers), true, false, vers));
        EXPECT_EQ(0u, Unlock(LockOf(file, 1, 0, 0, vers), vers));
        EXPECT_EQ(0u, Unlock(LockOf(file, 2, 0, 0, vers), vers));
    }
    // Version 4: a range ending at 2^64 - 1, and one touching it.
    ASSERT_EQ(0u, Lock(LockOf(3, 1, END - 9, 10), true));
    NlmTestResult holder = Test(LockOf(3, 2, END, 1), false);
    EXPECT_EQ(1u, holder.stat);
    EXPECT_EQ(END - 9, holder.offset);
    EXPECT_EQ(0u, holder.length);
    EXPECT_EQ(0u, Lock(LockOf(3, 2, END - 19, 10), true));
    EXPECT_EQ(1u, Lock(LockOf(3, 2, END - 10, 2), false));
    // Versions 1 and 3 take only 32-byte file handles.
    NlmTestLock shortHandle = LockOf(0, 1, 0, 1, 4);
    EXPECT_EQ(GARBAGE_ARGS, client_->Call(3, 2, NlmLockArgs(3, "x", false, true, shortHandle), true).accept_stat);
}

TEST_F(NlmWireTest, MessageFormsAreAnsweredWithResCalls)
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
        ASSERT_TRUE(reply.valid);
        EXPECT_EQ(0u, reply.accept_stat);
        EXPECT_TRUE(reply.results.empty());
        NlmTestCallback answer;
        ASSERT_TRUE(client_->AwaitCallback(&answer, 5000));
        EXPECT_EQ(procs[i] + 5, answer.proc);
        EXPECT_EQ("m" + std::to_string(procs[i]), answer.result.cookie);
        EXPECT_EQ(stats[i], answer.result.stat);
        if (procs[i] == 6) {
            EXPECT_EQ(1u, answer.result.svid);
        }
    }
}

TEST_F(NlmWireTest, GrantsAreCalledAgainAndARefusedOneGoesToTheNextWaiter)
{
    ASSERT_EQ(0u, Lock(LockOf(0, 1, 0, 10), true));
    EXPECT_EQ(3u, Lock(LockOf(0, 2, 0, 10), true, true));
    EXPECT_EQ(3u, Lock(LockOf(0, 3, 0, 10), true, true));
    EXPECT_EQ(0u, Unlock(LockOf(0, 1, 0, 10)));
    // Unanswered, the call comes again; refused, the grant goes on.
    NlmTestCallback unanswered, first, second;
    ASSERT_TRUE(client_->AwaitCallback(&unanswered, 5000, NLM_TEST_SILENT));
    ASSERT_TRUE(client_->AwaitCallback(&first, 5000, 1));
    EXPECT_EQ(2u, unanswered.lock.svid);
    EXPECT_EQ(2u, first.lock.svid);
    ASSERT_TRUE(client_->AwaitCallback(&second, 5000, 0));
    EXPECT_EQ(3u, second.lock.svid);
    EXPECT_EQ(3u, Test(LockOf(0, 1, 0, 1), false).svid);
}

TEST_F(NlmWireTest, StatusesAndRefusals)
{
    // A handle that does not resolve: STALE_FH in version 4, DENIED_NOLOCKS
    // for version 3, which has no such status.
    EXPECT_EQ(7u, Lock(LockOf(0xEE, 1, 0, 1), true));
    EXPECT_EQ(2u, Lock(LockOf(0xEE, 1, 0, 1, 3), true, false, 3));
    EXPECT_EQ(PROC_UNAVAIL, client_->Call(4, 5, NlmTestArgs(4, "g", true, LockOf(0, 1, 0, 1)), true).accept_stat);
    std::string truncated = NlmLockArgs(4, "t", false, true, LockOf(0, 1, 0, 1));
    truncated.resize(truncated.size() - 4);
    EXPECT_EQ(GARBAGE_ARGS, client_->Call(4, 2, truncated, true).accept_stat);
    // FREE_ALL drops the locks of the client it names.
    ASSERT_EQ(0u, Lock(LockOf(0, 1, 0, 0), true));
    std::string freeAll;
    PutOpaque(freeAll, "FakeClient");
    PutWord(freeAll, 3);
    RpcReplyView reply = client_->Call(4, 23, freeAll, true);
    EXPECT_TRUE(reply.valid && reply.accept_stat == 0 && reply.results.empty());
    EXPECT_EQ(0u, Test(LockOf(0, 2, 0, 0), true).stat);
    EXPECT_TRUE(WindowsCanLock(0, 0, 100));
}

}  // namespace
