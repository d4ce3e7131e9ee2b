// The bounds a reply keeps, where the wire cannot choose them: a 400-byte
// verifier, a megabyte's transfer size over UDP, ranges at the end of the
// 64-bit space.
#include <gtest/gtest.h>

#include <cstring>

#include "nfs/nfs2_results.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_request.h"
#include "rpc/transport.h"

// A reply never runs past the transfer buffer, whatever verifier the call
// carries, nor past one datagram over UDP; ranges never wrap.
TEST(NfsReplyBounds, RepliesStayWithinTheirBuffer)
{
    RpcTransport transport = {};
    transport.capacity = 8192 + 512;
    transport.protocol = RPC_PROTO_UDP;
    RpcCall call;
    memset(&call, 0, sizeof call);
    NfsRequest request = {};
    request.transport = &transport;
    request.call = &call;

    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), 8192u);
    call.verf_length = 400;
    const uint32_t limit = NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192);
    EXPECT_EQ(limit, 8704u - 24 - 400 - NFS3_READ_DATA_OFFSET);
    EXPECT_LE(24 + 400 + NFS3_READ_DATA_OFFSET + limit, transport.capacity);
    call.verf_length = 399;  // padded like 400
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), limit);

    transport.capacity = 1u << 20;
    call.verf_length = 0;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 1u << 20), (65507u - 24 - NFS3_READ_DATA_OFFSET) & ~3u);
    EXPECT_EQ(NfsTransferLimit(&transport, NFS2_READ_DATA_OFFSET, 1u << 20), (65507u - 24 - 76) & ~3u);
    transport.protocol = RPC_PROTO_TCP;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 1u << 19), 1u << 19);
    transport.capacity = 64;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), 0u);

    uint64_t end = 0;
    EXPECT_TRUE(NfsRangeEnd(5, 10, &end));
    EXPECT_EQ(end, 15u);
    EXPECT_TRUE(NfsRangeEnd(~0ull - 10, 10, &end));
    EXPECT_FALSE(NfsRangeEnd(~0ull - 10, 11, &end));
}
