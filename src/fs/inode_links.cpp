// Hard links: one identity record per hard-linked file gives all its names
// one inode number.  The record and the names form a ring through their
// link fields: record -> first name -> ... -> last name -> record.
#include "common/ascii_text.h"
#include "fs/inode_internal.h"

namespace {

void DropIdentity(uint32_t record)
{
    uint32_t field = HDR_IDENTITY_HEAD;
    uint32_t cur = Rd32(field);
    uint32_t steps = Inodes.total / BLOCK;
    while (cur != 0 && cur != record && steps-- > 0 && ValidOffset(cur)) {
        field = cur + E_NEXT;
        cur = Rd32(field);
    }
    if (cur == record)
        Wr32(field, Rd32(record + E_NEXT));
    memset(Inodes.base + record, 0, BLOCK);
    HeapFree(record);
    NoteChange();
}

uint32_t FindIdentity(uint32_t low, uint32_t high, uint32_t serial)
{
    uint32_t cur = Rd32(HDR_IDENTITY_HEAD);
    uint32_t steps = Inodes.total / BLOCK;
    while (cur != 0 && steps-- > 0 && IsLive(cur) && IsIdentity(cur)) {
        if (Rd32(cur + E_INDEX_LOW) == low && Rd32(cur + E_INDEX_HIGH) == high && Rd32(cur + E_VOLUME) == serial)
            return cur;
        cur = Rd32(cur + E_NEXT);
    }
    return 0;
}

void JoinLinkRingLocked(uint32_t file, uint32_t name)
{
    LockAssertHeld(&Inodes.treeLock);
    if (!Inodes.open || !IsLive(file) || !IsListedEntry(name) || name == file)
        return;
    if (IsIdentity(file) ? !IsIdentityRecord(file) : !(IsLinkMember(file) && IsListedEntry(file)))
        return;  // file is in no ring
    uint32_t identity = RingIdentity(file);
    if (identity == 0)
        return;
    if (IsLinkMember(name)) {
        if (RingIdentity(name) == identity)
            return;  // already one of its names
        LeaveRing(name);
    }
    if (HoldsChildren(name) && !DeleteChildrenLocked(name))
        return;
    SetFlags(name, static_cast<uint8_t>((Flags(name) & ~INODE_FLAG_CHILDREN) | INODE_FLAG_LINK_MEMBER));
    Wr32(name + E_LINK, Rd32(file + E_LINK));
    Wr32(file + E_LINK, name);
    IndexDrop(name);
    NoteChange();
}

}  // namespace

uint32_t RingIdentity(uint32_t e)
{
    if (!IsLive(e))
        return 0;
    if (IsIdentity(e))
        return e;
    uint32_t x = e;
    uint32_t steps = Inodes.total / BLOCK;
    while (steps-- > 0) {
        x = Rd32(x + E_LINK);
        if (!IsLive(x) || x == e)
            return 0;
        if (IsIdentity(x))
            return x;
        if (!IsLinkMember(x))
            return 0;
    }
    return 0;
}

void LeaveRing(uint32_t e)
{
    uint32_t y = e;
    uint32_t steps = Inodes.total / BLOCK;
    bool found = false;
    while (steps-- > 0) {
        uint32_t n = Rd32(y + E_LINK);
        if (n == e) {
            found = true;
            break;
        }
        if (!IsLive(n) || (Flags(n) & INODE_FLAG_LINK_MEMBER) == 0)
            break;
        y = n;
    }
    SetFlags(e, static_cast<uint8_t>(Flags(e) & ~(INODE_FLAG_LINK_MEMBER | INODE_FLAG_CHILDREN)));
    uint32_t next = Rd32(e + E_LINK);
    Wr32(e + E_LINK, 0);
    NoteChange();
    if (!found || y == e)
        return;
    Wr32(y + E_LINK, next == e ? y : next);
    uint32_t identity = RingIdentity(y);
    if (identity != 0 && Rd32(identity + E_LINK) == identity)
        DropIdentity(identity);
}

uint32_t CanonicalLocked(uint32_t inode)
{
    LockAssertHeld(&Inodes.treeLock);
    if (!Inodes.open || !IsLive(inode))
        return 0;
    if (IsLinkMember(inode)) {
        uint32_t identity = RingIdentity(inode);
        return identity != 0 ? identity : inode;
    }
    return inode;
}

uint32_t CanonicalInode(uint32_t inode)
{
    TreeGuard lock;
    return CanonicalLocked(inode);
}

uint32_t RegisterHardLink(uint32_t inode, uint32_t fileIndexLow, uint32_t fileIndexHigh, uint32_t volumeSerial)
{
    TreeGuard lock;
    if (!Inodes.open || !IsLive(inode))
        return 0;
    if (IsIdentity(inode))
        return IsIdentityRecord(inode) ? inode : 0;  // a file's own number: nothing to record
    if (!IsListedEntry(inode))
        return 0;
    uint32_t record = FindIdentity(fileIndexLow, fileIndexHigh, volumeSerial);
    if (IsLinkMember(inode)) {
        if (record != 0 && RingIdentity(inode) == record)
            return inode;
        // The name now stands for another file.
        LeaveRing(inode);
    }
    if (record != 0) {
        JoinLinkRingLocked(record, inode);
        return inode;
    }
    // First sight of this file as hard-linked: a new block takes over the
    // name, and the old number (which clients may hold) becomes the file's
    // identity record.
    if (HoldsChildren(inode) && !DeleteChildrenLocked(inode))
        return inode;
    uint32_t parent = Rd32(inode + E_PARENT);
    bool found = false;
    uint32_t pred = ListPredecessor(parent, inode, &found);
    if (!found)
        return inode;
    uint32_t name = HeapAlloc();
    if (name == 0)
        return inode;
    IndexErase(parent, inode);
    IndexDrop(inode);
    memcpy(Inodes.base + name, Inodes.base + inode, BLOCK);
    SetFlags(name, static_cast<uint8_t>((Flags(name) & ~INODE_FLAG_CHILDREN) | INODE_FLAG_LINK_MEMBER));
    Wr32(name + E_LINK, inode);
    if (pred == 0)
        Wr32(ListHeadField(parent), name);
    else
        Wr32(pred + E_NEXT, name);
    SetFlags(inode, INODE_FLAG_IDENTITY);
    Wr16(inode + E_NAMELEN, 0);
    Wr32(inode + E_INDEX_LOW, fileIndexLow);
    Wr32(inode + E_INDEX_HIGH, fileIndexHigh);
    Wr32(inode + E_VOLUME, volumeSerial);
    Wr32(inode + E_PARENT, 0);
    Wr32(inode + E_LINK, name);
    Wr32(inode + E_NEXT, Rd32(HDR_IDENTITY_HEAD));
    Wr32(HDR_IDENTITY_HEAD, inode);
    IndexInsert(parent, name);
    NoteChange();
    return name;
}

void JoinLinkRing(uint32_t file, uint32_t name)
{
    TreeGuard lock;
    JoinLinkRingLocked(file, name);
}

char *PathOfInodeWithin(uint32_t inode, const char *root, char *buffer)
{
    // The names of a hard-linked file, collected under the lock; their
    // paths are built one by one afterwards.
    const uint32_t kMostNames = 256;
    uint32_t names[kMostNames];
    uint32_t count = 0;
    {
        TreeGuard lock;
        if (!Inodes.open || buffer == nullptr || !IsLive(inode))
            return nullptr;
        if (IsIdentity(inode)) {
            uint32_t x = Rd32(inode + E_LINK);
            uint32_t steps = Inodes.total / BLOCK;
            while (x != inode && count < kMostNames && steps-- > 0 && IsLive(x) && IsLinkMember(x)) {
                names[count++] = x;
                x = Rd32(x + E_LINK);
            }
        }
    }
    if (count == 0)
        return PathOfInode(inode, buffer);
    for (uint32_t i = 0; i < count; i++)
        if (PathOfInode(names[i], buffer) != nullptr && BelowRoot(buffer, root) != nullptr)
            return buffer;
    return PathOfInode(inode, buffer);
}
