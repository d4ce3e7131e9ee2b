// Record marking in both directions, driven from memory.
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
    bool refuse_await = false;

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
        source.await = [](RecordSource *self) -> bool {
            MemorySource *m = (MemorySource *)self;
            return !m->refuse_await;
        };
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

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override { t = NewTransport(INVALID_SOCKET, 6, 0, 1024); }
    void TearDown() override { FreeTransport(t); }
    RpcTransport *t = nullptr;
    Bytes Received() const { return Bytes(t->buffer, t->buffer + t->length); }
};

TEST_F(RecordTest, RoomCountsEveryFragment)
{
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
}

TEST_F(RecordTest, ShortOrRefusedStreamsFail)
{
    Bytes stream = Cat({Fragment(Fill(40), false), Fragment(Fill(8), true)});
    for (size_t cut = 0; cut < stream.size(); cut++) {
        MemorySource src(Bytes(stream.begin(), stream.begin() + (long)cut));
        EXPECT_FALSE(AssembleRecord(t, &src.source)) << cut;
    }
    MemorySource refused(stream);
    refused.refuse_await = true;
    EXPECT_FALSE(AssembleRecord(t, &refused.source));
}

// --- Sending -----------------------------------------------------------------

struct MemorySink {
    RecordSink sink;
    Bytes data;
    std::vector<int> writes;
    int fail_at = -1;  // index of the write that fails

    MemorySink()
    {
        sink.write = [](RecordSink *self, const uint8_t *p, int size) -> int {
            MemorySink *m = (MemorySink *)self;
            if ((int)m->writes.size() == m->fail_at) {
                m->writes.push_back(-1);
                return -1;
            }
            m->data.insert(m->data.end(), p, p + size);
            m->writes.push_back(size);
            return size;
        };
    }
};

TEST(SendRecordTest, LongReplyLeavesInFragmentsOfCapacityLess4)
{
    // A buffer large enough for the reply; capacity decides the fragment size.
    RpcTransport *t = NewTransport(INVALID_SOCKET, 6, 0, 4096);
    const uint32_t capacity = 1000;
    t->capacity = capacity;
    const uint32_t length = 2 * (capacity - 4) + 8;
    Bytes message = Fill(length);
    memcpy(t->buffer, message.data(), length);
    t->length = (int32_t)length;
    memcpy(t->record_mark, "RMRM", 4);

    MemorySink sink;
    EXPECT_EQ(SendRecord(t, &sink.sink), 12);
    ASSERT_EQ(sink.writes, (std::vector<int>{1000, 1000, 12}));
    const Bytes &d = sink.data;
    EXPECT_EQ(WordAt(d, 0), capacity - 4);               // top bit clear
    EXPECT_EQ(XdrLoad32(d.data() + 1000), capacity - 4);  // top bit clear
    EXPECT_EQ(XdrLoad32(d.data() + 2000), 0x80000008u);
    // The body between the marks arrives whole over TCP (LoopbackTest
    // TcpRepliesLongerThanAFragmentArriveWhole); the bytes the marks borrowed
    // are back.
    EXPECT_EQ(Bytes(t->buffer, t->buffer + length), message);
    EXPECT_EQ(memcmp(t->record_mark, "RMRM", 4), 0);

    // Exactly capacity - 4 bytes: one last fragment.
    t->length = (int32_t)(capacity - 4);
    MemorySink one;
    SendRecord(t, &one.sink);
    EXPECT_EQ(one.writes, (std::vector<int>{1000}));
    EXPECT_EQ(WordAt(one.data, 0), 0x80000000u | (capacity - 4));
    FreeTransport(t);
}

TEST(SendRecordTest, FailedFragmentEndsTheMessage)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, 6, 0, 100);
    t->length = 100;
    t->capacity = 36;  // fragments of 32
    MemorySink first;
    first.fail_at = 0;
    EXPECT_EQ(SendRecord(t, &first.sink), 0);
    EXPECT_EQ(first.writes.size(), 1u);
    MemorySink last;
    last.fail_at = 3;  // 32 + 32 + 32 + 4
    EXPECT_EQ(SendRecord(t, &last.sink), -1);
    EXPECT_EQ(last.writes.size(), 4u);
    FreeTransport(t);
}

}  // namespace
