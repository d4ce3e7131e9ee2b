// Record marking of received calls, driven from memory: the room a record
// takes counts every fragment.  (Fragments and records beyond the transfer
// size on the running server: NfsWire TcpTakesRecordsUpToTheTransferSize.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "rpc/record_marking.h"
#include "rpc_test_util.h"

namespace {

// A byte stream in memory.
struct MemorySource {
    RecordSource source;
    std::string data;
    size_t at = 0;

    explicit MemorySource(const std::string &d) : data(d)
    {
        source.read = [](RecordSource *self, uint8_t *out, int size) -> int {
            MemorySource *m = (MemorySource *)self;
            size_t n = std::min(m->data.size() - m->at, (size_t)size);
            memcpy(out, m->data.data() + m->at, n);
            m->at += n;
            return (int)n;
        };
        source.await = [](RecordSource *) -> bool { return true; };
    }
};

std::string Fragment(size_t size, bool last)
{
    return RecordMark((uint32_t)size, last) + std::string(size, 'f');
}

TEST(RecordTest, RoomCountsEveryFragment)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, 6, 0, 1024);
    // 1000 + 24 fills the buffer exactly; an empty last fragment still fits.
    MemorySource exact(Fragment(1000, false) + Fragment(24, false) + Fragment(0, true));
    ASSERT_TRUE(AssembleRecord(t, &exact.source));
    EXPECT_EQ(t->length, 1024);
    // One byte more in the second fragment does not fit.
    MemorySource over(Fragment(1000, false) + Fragment(25, true));
    EXPECT_FALSE(AssembleRecord(t, &over.source));
    // A full buffer without the last fragment is not a record: a further
    // fragment with data fails it rather than leaving a cut call.
    MemorySource runon(Fragment(1021, false) + Fragment(4, true));
    EXPECT_FALSE(AssembleRecord(t, &runon.source));
    FreeTransport(t);
}

}  // namespace
