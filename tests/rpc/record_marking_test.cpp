// Record marking of received calls, driven from memory: the room a record
// takes counts every fragment.  (Fragments and records beyond the transfer
// size on the running server: NfsWire TcpTakesRecordsUpToTheTransferSize.)
#include <gtest/gtest.h>

#include <cstring>

#include "rpc/record_marking.h"
#include "rpc_test_util.h"

namespace {

// A byte stream in memory.
struct MemorySource {
    RecordSource source;
    Bytes data;
    size_t at = 0;

    explicit MemorySource(const Bytes &d) : data(d)
    {
        source.read = [](RecordSource *self, uint8_t *out, int size) -> int {
            MemorySource *m = (MemorySource *)self;
            size_t n = m->data.size() - m->at;
            if (n == 0) {
                return 0;
            }
            if (n > (size_t)size) {
                n = (size_t)size;
            }
            memcpy(out, m->data.data() + m->at, n);
            m->at += n;
            return (int)n;
        };
        source.await = [](RecordSource *) -> bool { return true; };
    }
};

Bytes Fragment(const Bytes &body, bool last)
{
    return Xdr().U32((uint32_t)body.size() | (last ? 0x80000000u : 0)).Raw(body.data(), body.size()).b;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(RecordTest, RoomCountsEveryFragment)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, 6, 0, 1024);
    // 1000 + 24 fills the buffer exactly; an empty last fragment still fits.
    MemorySource exact(Cat({Fragment(Fill(1000), false), Fragment(Fill(24), false), Fragment(Bytes(), true)}));
    ASSERT_TRUE(AssembleRecord(t, &exact.source));
    EXPECT_EQ(t->length, 1024);
    // One byte more in the second fragment does not fit.
    MemorySource over(Cat({Fragment(Fill(1000), false), Fragment(Fill(25), true)}));
    EXPECT_FALSE(AssembleRecord(t, &over.source));
    // A full buffer without the last fragment is not a record: a further
    // fragment with data fails it rather than leaving a cut call.
    MemorySource runon(Cat({Fragment(Fill(1021), false), Fragment(Fill(4), true)}));
    EXPECT_FALSE(AssembleRecord(t, &runon.source));
    FreeTransport(t);
}

}  // namespace
