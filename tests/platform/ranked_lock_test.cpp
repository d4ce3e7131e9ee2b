// Debug builds end the process when a thread takes locks against their
// ranks; the same lock taken again is no inversion.
#include <gtest/gtest.h>

#include "platform/ranked_lock.h"

#ifndef NDEBUG
TEST(RankedLock, TakingALowerRankUnderAHigherOneEndsTheProcess)
{
    static RankedLock outer(LOCK_RANK_MOUNT, "outer"), inner(LOCK_RANK_INODE_TREE, "inner");
    static RankedLock leaf(LOCK_RANK_LEAF, "leaf"), otherLeaf(LOCK_RANK_LEAF, "other leaf");
    {
        LockGuard a(outer), b(inner), again(outer);
        LockAssertHeld(&outer);
    }
    EXPECT_DEATH(LockGuard a(inner); LockGuard b(outer), "taking outer \\(rank 31\\) while holding inner");
    EXPECT_DEATH(LockGuard a(leaf); LockGuard b(otherLeaf), "taking other leaf");
    EXPECT_DEATH(LockAssertHeld(&outer), "not holding outer");
}
#endif
