// The lock manager on the wire, in this process (the port mapper on a free
// port, nlmd over TCP bound to temporary files, the fake client's callback
// service registered over UDP), for what needs a silent or refusing client
// and a few refusals.  (The rest: NlmLive on the running server.)
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

struct TestFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
} File;

// Handles whose first byte is 0 name the file; others do not resolve.
uint32_t Acquire(const NlmFileRequest *request, bool, void **file)
{
    if (request->lock->fhLength == 0 || request->lock->fh[0] != 0)
        return NLM_STALE_FH;
    *file = &File;
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
        File.path = dir_.Win("file");
        File.handle = CreateFileA(File.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, File.handle);
        RPCTIMEOUT = 1;
        PortMapperRegistration = 1;
        PmapResetTable();
        PmapPort = RpcTestFreePort();
        ASSERT_EQ(0, PortMapperStart(1));
        ResetTransports();
        ServerSettings.NLM = ServerSettings.TCP = ServerSettings.Version2 = ServerSettings.Version3 = 1;
        ServerSettings.UDP = 0;
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
        NlmReleaseFile(&File);
        CloseHandle(File.handle);
    }
    // Whether a Windows program could lock bytes of the file now.
    bool WindowsCanLock(uint32_t offset, uint32_t length)
    {
        HANDLE other = CreateFileA(File.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        bool locked = LockFile(other, offset, 0, length, 0) != FALSE;
        CloseHandle(other);
        return locked;
    }

    TempDir dir_;
    std::thread server_;
    NlmTestClient *client_ = nullptr;
};

TEST_F(NlmWireTest, GrantsAreCalledAgainAndARefusedOneGoesToTheNextWaiter)
{
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 10), true));
    EXPECT_EQ(3u, client_->Lock(LockOf(0, 2, 0, 10), true, true));
    EXPECT_EQ(3u, client_->Lock(LockOf(0, 3, 0, 10), true, true));
    EXPECT_EQ(0u, client_->Unlock(LockOf(0, 1, 0, 10)));
    // Unanswered, the call comes again; refused, the grant goes on.
    NlmTestCallback unanswered, first, second;
    ASSERT_TRUE(client_->AwaitCallback(&unanswered, 5000, NLM_TEST_SILENT));
    ASSERT_TRUE(client_->AwaitCallback(&first, 5000, 1));
    EXPECT_EQ(2u, unanswered.lock.svid);
    EXPECT_EQ(2u, first.lock.svid);
    ASSERT_TRUE(client_->AwaitCallback(&second, 5000, 0));
    EXPECT_EQ(3u, second.lock.svid);
    EXPECT_EQ(3u, client_->Test(LockOf(0, 1, 0, 1), false).svid);
}

TEST_F(NlmWireTest, StatusesAndRefusals)
{
    // A handle that does not resolve in version 3, which has no STALE_FH:
    // DENIED_NOLOCKS.  (STALE_FH of version 4 and arguments that do not
    // decode: NlmLive HandlesAreCheckedLikeNfsRequests.)
    EXPECT_EQ(2u, client_->Lock(LockOf(0xEE, 1, 0, 1, 3), true, false, 3));
    EXPECT_EQ(PROC_UNAVAIL, client_->Call(4, 5, NlmTestArgs(4, "g", true, LockOf(0, 1, 0, 1)), true).accept_stat);
    // FREE_ALL drops the locks of the client it names.
    ASSERT_EQ(0u, client_->Lock(LockOf(0, 1, 0, 0), true));
    std::string freeAll;
    PutOpaque(freeAll, "FakeClient");
    PutWord(freeAll, 3);
    RpcReplyView reply = client_->Call(4, 23, freeAll, true);
    EXPECT_TRUE(reply.valid && reply.accept_stat == 0 && reply.results.empty());
    EXPECT_EQ(0u, client_->Test(LockOf(0, 2, 0, 0), true).stat);
    EXPECT_TRUE(WindowsCanLock(0, 100));
}

}  // namespace
