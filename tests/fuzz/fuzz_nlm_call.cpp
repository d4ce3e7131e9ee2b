// The lock manager under random input.  A first byte below 0x80: an NLM
// call through NlmDispatch (version and procedure from that byte, the caller
// from the second, handles naming one of four fake files by their first
// byte); from 0x80: a script of lock table operations, 8 bytes each.  After
// every input the table's invariants (NlmTableConsistent) must hold.
#include "fuzz_world.h"
#include "nlm/nlm_delivery.h"
#include "nlm/nlm_procs.h"
#include "nlm/nlm_protocol.h"
#include "nlm/nlm_service.h"
#include "nlm/nlm_table.h"
#include "support/rpc_test_client.h"

namespace {

struct FakeFile {
    int refs;
    uint32_t windowsLocks;
};
FakeFile Files[4];
RpcTransport *transport = nullptr;
RpcCall call;
uint32_t now = 1000;
unsigned inputs = 0;
NlmGrantList granted;

uint32_t Acquire(const NlmFileRequest *request, bool, void **file)
{
    if (request->lock->fhLength == 0 || request->lock->fh[0] >= 4)
        return NLM_STALE_FH;
    *file = &Files[request->lock->fh[0]];
    return NLM_GRANTED;
}
void Release(void *) {}
// File 3 has bytes 1000 to 1009 locked by a "Windows program".
bool Lock(void *file, uint64_t first, uint64_t last)
{
    FakeFile *f = static_cast<FakeFile *>(file);
    if (f == &Files[3] && first <= 1009 && last >= 1000)
        return false;
    f->windowsLocks++;
    return true;
}
void Unlock(void *file, uint64_t, uint64_t)
{
    FakeFile *f = static_cast<FakeFile *>(file);
    Check(f->windowsLocks > 0, "a Windows lock dropped twice");
    f->windowsLocks--;
}
void Refer(void *file, int delta)
{
    static_cast<FakeFile *>(file)->refs += delta;
    Check(static_cast<FakeFile *>(file)->refs >= 0, "a file's references fell below 0");
}
const NlmFileBinding Binding = {Acquire, Release, {Lock, Unlock, Refer}};

void Setup()
{
    RpcTestStartup();
    NlmSetFileBinding(&Binding);
    NlmLocksMax = 96;  // small bounds, so that inputs reach them
    NlmLocksPerClient = 64;
    NlmProcsReset();
    transport = OwnUdpTransport(NLM_BUFFER_SIZE);
}


void DropGrants()
{
    for (uint32_t i = 0; i < granted.count; i++)
        NlmOutCallFree(granted.grants[i].call);
    granted.count = 0;
}

void Dispatch(const uint8_t *data, size_t size)
{
    if (size > NLM_BUFFER_SIZE - 512)
        return;
    static const uint32_t versions[] = {1, 3, 4};
    Received(transport, &call, NLM_PROG, versions[data[0] % 3], (data[0] / 3) % 25, data + 2, size - 2,
             1u + data[1] % 4, 0x2000 + inputs);
    NlmDispatch(transport, &call);
    Check(transport->length >= 0 && static_cast<uint32_t>(transport->length) <= transport->capacity,
          "the reply does not fit the buffer");
}

void Script(const uint8_t *data, size_t size)
{
    static const char *const oh[] = {"a", "b", "c", "d"};
    for (size_t at = 1; at + 8 <= size; at += 8) {
        const uint8_t *op = data + at;
        uint32_t who = op[1] % 4;
        NlmOwner owner = {htonl(0x7F000001u + who % 2), who / 2, 1, reinterpret_cast<const uint8_t *>(oh[who])};
        void *file = &Files[op[2] % 4];
        uint64_t first = op[3] * 8u;
        if (op[3] >= 0xF0)
            first = UINT64_MAX - (0xFFu - op[3]) * 8u;
        uint64_t last;
        NlmRangeOf(first, op[4] == 0xFF ? 0 : op[4], &first, &last);
        bool exclusive = op[5] & 1, block = op[5] & 2;
        now += op[6] * 1000u;
        switch (op[0] % 8) {
        case 0:
        case 1: {
            NlmLockRequest request = {file, owner, first, last, exclusive, block, who % 2 ? "odd" : "even",
                                      block ? static_cast<NlmOutCall *>(calloc(1, sizeof(NlmOutCall))) : nullptr};
            NlmTableLock(&request, now, &granted);
            NlmOutCallFree(request.call);
            break;
        }
        case 2:
        case 3:
            NlmTableUnlock(file, &owner, first, last, now, &granted);
            break;
        case 4:
            NlmTableCancel(file, &owner, first, last, now, &granted);
            break;
        case 5: {
            NlmTableHolder holder;
            if (NlmTableTest(file, &owner, first, last, exclusive, &holder) == NLM_DENIED)
                Check(holder.first <= last && first <= holder.last, "TEST reports a holder that does not overlap");
            break;
        }
        case 6:
            if (granted.count > 0) {
                NlmGrant g = granted.grants[op[7] % granted.count];
                NlmTableGrantAnswered(g.grantId, op[5] % 3, now, &granted);
            } else {
                NlmTableExpire(now, &granted);
            }
            break;
        default:
            if (op[7] & 1)
                NlmTableFreeAll(op[7] & 2 ? "odd" : "even", now, &granted);
            else
                NlmTableReleaseFile(file);
            break;
        }
        Check(NlmTableConsistent(), "the table's invariants broke");
        if (granted.count > NLM_GRANT_LIST_SIZE / 2) {
            DropGrants();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (transport == nullptr)
        Setup();
    if (size < 2)
        return 0;
    if (data[0] < 0x80)
        Dispatch(data, size);
    else
        Script(data, size);
    Check(NlmTableConsistent(), "the table's invariants broke");
    if (++inputs % 64 == 0)
        DrainSocket(transport->socket);
    // Start afresh now and then, so that the table does not stay full.
    if (inputs % 256 == 0) {
        DropGrants();
        for (FakeFile &f : Files)
            NlmTableReleaseFile(&f);
        for (FakeFile &f : Files)
            Check(f.refs == 0 && f.windowsLocks == 0, "a released file kept references or Windows locks");
    }
    return 0;
}
