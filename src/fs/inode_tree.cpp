// The tree of names: finding, adding, deleting, moving and naming entries.
#include <cstring>

#include "fs/inode_internal.h"
#include "log/log.h"
#include "settings/settings.h"

// The length of a name as the table keeps it: at most 511 bytes, and
// without trailing dots and blanks, which Windows drops when it opens a
// file ("a." and "a " name the file "a", so they share its number).  A name
// made only of dots and blanks stays as it is.
uint32_t CutLength(const char *name)
{
    size_t n = strlen(name);
    if (n > INODE_NAME_MAX)
        n = INODE_NAME_MAX;
    size_t kept = n;
    while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' '))
        kept--;
    return static_cast<uint32_t>(kept > 0 ? kept : n);
}

namespace {

bool IsDot(const uint8_t *name, uint32_t length) { return length == 1 && name[0] == '.'; }
bool IsDotDot(const uint8_t *name, uint32_t length) { return length == 2 && name[0] == '.' && name[1] == '.'; }

// Takes one entry out of everything: its link ring, its parent's list, its
// index, its name blocks; then zeroes and releases it.
void RemoveEntry(uint32_t x)
{
    if (IsLinkMember(x))
        LeaveRing(x);
    UnlinkFromList(x);
    IndexDrop(x);
    ReleaseNameBlocks(x);
    memset(Inodes.base + x, 0, BLOCK);
    HeapFree(x);
    NoteChange();
}

// Deletes the subtree below e, and e itself unless keepRoot.  Iterative:
// folders may nest deeper than a thread's stack would allow recursion.
// Returns 1 when everything asked for is gone, 0 when a pending entry stays
// (together with every entry above it).
int DeleteSubtree(uint32_t e, bool keepRoot)
{
    std::vector<uint32_t> stack;
    stack.push_back(e);
    uint64_t guard = 2ull * (Inodes.total / BLOCK) + 4;
    while (!stack.empty() && guard-- > 0) {
        uint32_t x = stack.back();
        if (HoldsChildren(x)) {
            uint32_t c = Rd32(x + E_LINK);
            if (c != 0) {
                if (!IsTreeEntry(c) || Rd32(c + E_PARENT) != x) {
                    // A damaged list: nothing reachable beyond this point.
                    Wr32(x + E_LINK, 0);
                    IndexDrop(x);
                    continue;
                }
                if ((Flags(c) & INODE_FLAG_PENDING) != 0)
                    return 0;
                stack.push_back(c);
                continue;
            }
        }
        if (x == e && keepRoot)
            return 1;
        RemoveEntry(x);
        stack.pop_back();
    }
    return stack.empty() ? 1 : 0;
}

bool AllowedInPath(uint8_t c)
{
    if (c >= 0x80)
        return ServerSettings.CharSetActive != 0;
    if (c < 0x20 || c == 0x7F)
        return false;
    return strchr("\"*/:<>?\\|", c) == nullptr;
}

// Walks up from e (inclusive); true when ancestor is met.
bool IsWithin(uint32_t e, uint32_t ancestor)
{
    uint32_t steps = Inodes.total / BLOCK;
    while (e != 0 && steps-- > 0) {
        if (e == ancestor)
            return true;
        if (!IsLive(e))
            return false;
        e = Rd32(e + E_PARENT);
    }
    return false;
}

}  // namespace

bool IsListedEntry(uint32_t e)
{
    if (!IsTreeEntry(e))
        return false;
    uint32_t parent = Rd32(e + E_PARENT);
    if (parent != 0 && !IsTreeEntry(parent))
        return false;
    // A long list answers from its index without comparing names.
    const int held = parent == 0 || HoldsChildren(parent) ? IndexHolds(parent, e) : 0;
    if (held >= 0)
        return held == 1;
    uint8_t scratch[INODE_NAME_MAX + 1];
    uint32_t length = 0;
    const uint8_t *name = NameOf(e, scratch, &length);
    if (name == nullptr || length == 0)
        return false;
    // The name stays where NameOf left it: the list search reads names
    // into scratch buffers of its own.
    NameKey key{name, length};
    return FindInList(parent, key).found == e;
}

bool IsIdentityRecord(uint32_t e)
{
    if (!IsLive(e) || !IsIdentity(e))
        return false;
    uint32_t first = Rd32(e + E_LINK);
    return IsTreeEntry(first) && IsLinkMember(first) && RingIdentity(first) == e;
}

uint32_t AddChildLocked(uint32_t parent, const uint8_t *name, uint32_t length)
{
    LockAssertHeld(&Inodes.treeLock);
    if (!Inodes.open || length == 0)
        return 0;
    if (length > INODE_NAME_MAX)
        length = INODE_NAME_MAX;
    if (IsDot(name, length))
        return parent;
    if (IsDotDot(name, length))
        return 0;
    if (parent != 0) {
        if (!IsListedEntry(parent))
            return 0;
        // A name that was a hard-linked file is a folder now: its link
        // field is about to hold its first child.
        if (IsLinkMember(parent))
            LeaveRing(parent);
    }
    NameKey key{name, length};
    ListPlace place = FindInList(parent, key);
    if (place.found != 0)
        return place.found;
    uint32_t e = HeapAlloc();
    if (e == 0) {
        LogLine(2, "nfsd: fatal error1 out of inodes\n");
        return 0;
    }
    std::vector<uint32_t> blocks;
    if (!AllocNameBlocks(length, blocks)) {
        HeapFree(e);
        LogLine(2, "nfsd: fatal error2 out of inodes\n");
        return 0;
    }
    WriteName(e, name, length, blocks);
    Wr32(e + E_PARENT, parent);
    Inodes.base[e + E_MARKER] = INODE_MARKER;
    SetFlags(e, 0);
    LinkIntoList(parent, e, place);
    return e;
}

int DeleteLocked(uint32_t e)
{
    LockAssertHeld(&Inodes.treeLock);
    if (!Inodes.open || !IsLive(e))
        return 0;
    if (IsIdentity(e)) {
        // The name the record's path is built from goes; the record itself
        // goes with the last name of its ring.
        if (!IsIdentityRecord(e))
            return 0;
        e = Rd32(e + E_LINK);
    }
    if (!IsListedEntry(e))
        return 0;
    if ((Flags(e) & INODE_FLAG_PENDING) != 0)
        return 0;
    return DeleteSubtree(e, false);
}

int DeleteChildrenLocked(uint32_t e)
{
    if (!Inodes.open || !IsListedEntry(e))
        return 0;
    return DeleteSubtree(e, true);
}

uint32_t FindChild(uint32_t parent, const char *name)
{
    TreeGuard lock;
    if (!Inodes.open || name == nullptr)
        return 0;
    uint32_t length = CutLength(name);
    if (IsDot(reinterpret_cast<const uint8_t *>(name), length))
        return parent;
    if (length == 0 || (parent != 0 && !IsTreeEntry(parent)))
        return 0;
    NameKey key{reinterpret_cast<const uint8_t *>(name), length};
    return FindInList(parent, key).found;
}

uint32_t AddChild(uint32_t parent, const char *name)
{
    TreeGuard lock;
    if (name == nullptr)
        return 0;
    uint32_t e = AddChildLocked(parent, reinterpret_cast<const uint8_t *>(name), CutLength(name));
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return e;
}

uint32_t AddPath(const char *path)
{
    TreeGuard lock;
    if (!Inodes.open || path == nullptr)
        return 0;
    const uint8_t *p = reinterpret_cast<const uint8_t *>(path);
    size_t length = strlen(path);
    uint8_t component[INODE_NAME_MAX + 8];
    uint32_t n = 0;
    size_t pos = 0;
    if (length >= 4 && (memcmp(p, "//?/", 4) == 0 || memcmp(p, "\\\\?\\", 4) == 0)) {
        memcpy(component, "\\\\?\\", 4);
        n = 4;
        pos = 4;
    } else if (length >= 2 && (memcmp(p, "//", 2) == 0 || memcmp(p, "\\\\", 2) == 0)) {
        memcpy(component, "\\\\", 2);
        n = 2;
        pos = 2;
    } else {
        n = length < 2 ? static_cast<uint32_t>(length) : 2;
        memcpy(component, p, n);
        pos = n;
    }
    while (pos < length && (AllowedInPath(p[pos]) || p[pos] == ':')) {
        if (n < INODE_NAME_MAX)
            component[n++] = p[pos];
        pos++;
    }
    uint32_t inode = AddChildLocked(0, component, n);
    while (inode != 0) {
        if (length - pos <= 1)
            break;
        while (pos < length && !AllowedInPath(p[pos]))
            pos++;
        if (pos >= length)
            break;
        n = 0;
        while (pos < length && AllowedInPath(p[pos])) {
            if (n < INODE_NAME_MAX)
                component[n++] = p[pos];
            pos++;
        }
        if (IsDotDot(component, n)) {
            inode = 0;
            break;
        }
        inode = AddChildLocked(inode, component, n);
    }
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return inode;
}

char *PathOfInode(uint32_t inode, char *buffer)
{
    TreeGuard lock;
    if (!Inodes.open || buffer == nullptr || !IsLive(inode))
        return nullptr;
    uint32_t x = inode;
    if (IsIdentity(x)) {
        x = Rd32(x + E_LINK);
        if (!IsTreeEntry(x) || !IsLinkMember(x))
            return nullptr;
    }
    uint32_t chain[INODE_PATH_DEPTH + 1];
    uint32_t n = 0;
    for (;;) {
        if (n > INODE_PATH_DEPTH)
            return nullptr;  // more than 64 levels below the root entry
        chain[n++] = x;
        uint32_t parent = Rd32(x + E_PARENT);
        if (parent == 0)
            break;
        if (!IsTreeEntry(parent) || !HoldsChildren(parent))
            return nullptr;
        x = parent;
    }
    uint8_t scratch[INODE_NAME_MAX + 1];
    size_t used = 0;
    for (uint32_t i = n; i-- > 0;) {
        uint32_t length = 0;
        const uint8_t *name = NameOf(chain[i], scratch, &length);
        if (name == nullptr)
            return nullptr;
        bool separator = i + 1 < n;
        if (used + (separator ? 1 : 0) + length + 2 > INODE_PATH_SIZE)
            return nullptr;
        if (separator)
            buffer[used++] = '\\';
        memcpy(buffer + used, name, length);
        used += length;
    }
    if (n == 1)
        buffer[used++] = '\\';  // a bare drive is its root folder
    buffer[used] = '\0';
    for (size_t i = 0; i < used; i++)
        if (buffer[i] == '/')
            buffer[i] = '\\';
    return buffer;
}

uint32_t ParentOfInode(uint32_t inode)
{
    TreeGuard lock;
    if (!Inodes.open || !IsLive(inode))
        return 0;
    if (IsIdentity(inode)) {
        inode = Rd32(inode + E_LINK);
        if (!IsTreeEntry(inode))
            return 0;
    }
    return Rd32(inode + E_PARENT);
}

uint32_t InodeOfHandle(uint64_t handleInode)
{
    TreeGuard lock;
    if (!Inodes.open || (handleInode >> 32) != 0)
        return 0;
    uint32_t e = static_cast<uint32_t>(handleInode);
    if (!IsLive(e))
        return 0;
    // The entry must be where its parent's list says it is: a stale block
    // or a name block that happens to carry the marker is no inode.
    if (IsIdentity(e))
        return IsIdentityRecord(e) ? e : 0;
    return IsListedEntry(e) ? e : 0;
}

void MarkSeen(uint32_t inode)
{
    TreeGuard lock;
    if (Inodes.open && IsListedEntry(inode))
        SetFlags(inode, static_cast<uint8_t>(Flags(inode) | INODE_FLAG_SEEN));
}

int SetPending(uint32_t inode, int op)
{
    TreeGuard lock;
    if (!Inodes.open || !IsListedEntry(inode))
        return 0;
    uint8_t flags = Flags(inode);
    int previous = (flags & INODE_FLAG_PENDING) != 0 ? 1 : 0;
    if (op > 0)
        SetFlags(inode, static_cast<uint8_t>(flags | INODE_FLAG_PENDING));
    else if (op == 0)
        SetFlags(inode, static_cast<uint8_t>(flags & ~INODE_FLAG_PENDING));
    return previous;
}

int DeleteInode(uint32_t inode)
{
    TreeGuard lock;
    int done = DeleteLocked(inode);
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return done;
}

int DeleteInodeClearPending(uint32_t inode)
{
    TreeGuard lock;
    if (Inodes.open && IsListedEntry(inode))
        SetFlags(inode, static_cast<uint8_t>(Flags(inode) & ~INODE_FLAG_PENDING));
    int done = DeleteLocked(inode);
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return done;
}

int DeleteChildren(uint32_t inode)
{
    TreeGuard lock;
    int done = DeleteChildrenLocked(inode);
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return done;
}

void PruneUnseen(uint32_t directory)
{
    TreeGuard lock;
    if (!Inodes.open || (directory != 0 && (!IsListedEntry(directory) || !HoldsChildren(directory))))
        return;
    uint32_t cur = Rd32(ListHeadField(directory));
    uint32_t steps = Inodes.total / BLOCK;
    while (cur != 0 && steps-- > 0 && IsTreeEntry(cur)) {
        uint32_t next = Rd32(cur + E_NEXT);
        uint8_t flags = Flags(cur);
        if ((flags & INODE_FLAG_SEEN) != 0)
            SetFlags(cur, static_cast<uint8_t>(flags & ~INODE_FLAG_SEEN));
        else
            DeleteLocked(cur);
        cur = next;
    }
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
}

bool MoveInode(uint32_t inode, uint32_t newParent, const char *newName)
{
    TreeGuard lock;
    if (!Inodes.open || newName == nullptr)
        return false;
    const uint8_t *name = reinterpret_cast<const uint8_t *>(newName);
    uint32_t length = CutLength(newName);
    if (inode == 0)
        return AddChildLocked(newParent, name, length) != 0;
    if (!IsListedEntry(inode))
        return false;
    SetFlags(inode, static_cast<uint8_t>(Flags(inode) & ~INODE_FLAG_PENDING));
    if (length == 0 || IsDot(name, length) || IsDotDot(name, length))
        return false;
    if (newParent != 0) {
        if (!IsListedEntry(newParent))
            return false;
        // A folder cannot move below itself.
        if (IsWithin(newParent, inode))
            return false;
    }
    NameKey key{name, length};
    uint32_t existing = FindInList(newParent, key).found;
    if (existing != 0 && existing != inode) {
        // Deleting the target must not take the moving entry with it, and
        // a target that stays (pending) keeps its place: a list holds no two
        // equal names.
        if (IsWithin(inode, existing) || !DeleteLocked(existing)) {
            LogLine(2, "nfsd: inode delete failed %u, %s\n", existing, newName);
            return false;
        }
    }
    if (newParent != 0 && IsLinkMember(newParent))
        LeaveRing(newParent);
    // The new name's blocks come first: when they cannot be had, the entry
    // stays where it was instead of being lost.
    std::vector<uint32_t> blocks;
    if (!AllocNameBlocks(length, blocks)) {
        LogLine(2, "nfsd: fatal error2 out of inodes\n");
        return false;
    }
    UnlinkFromList(inode);
    ReleaseNameBlocks(inode);
    WriteName(inode, name, length, blocks);
    Wr32(inode + E_PARENT, newParent);
    ListPlace place = FindInList(newParent, key);
    if (place.found != 0) {
        // Cannot happen after the deletion above; keep the list clean.
        ReleaseNameBlocks(inode);
        memset(Inodes.base + inode, 0, BLOCK);
        HeapFree(inode);
        return false;
    }
    LinkIntoList(newParent, inode, place);
    NoteChange();
    return true;
}
