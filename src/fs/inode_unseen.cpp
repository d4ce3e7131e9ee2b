// Pruning after a directory listing, in two steps so that the caller can
// look at the files without holding the tree lock: the unseen children are
// taken out by name, and each one is deleted only when it is still that
// child and no listing has seen it meanwhile.
#include "fs/inode_internal.h"

uint32_t AddSeenChild(uint32_t parent, const char *name, uint32_t *canonical)
{
    TreeGuard lock;
    *canonical = 0;
    if (name == nullptr)
        return 0;
    uint32_t e = AddChildLocked(parent, reinterpret_cast<const uint8_t *>(name), CutLength(name));
    if (e != 0 && e != parent && IsTreeEntry(e) && (Flags(e) & INODE_FLAG_SEEN) == 0)
        SetFlags(e, static_cast<uint8_t>(Flags(e) | INODE_FLAG_SEEN));
    *canonical = e != 0 ? CanonicalLocked(e) : 0;
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return e;
}

void TakeUnseenChildren(uint32_t directory, std::vector<UnseenChild> *unseen)
{
    unseen->clear();
    TreeGuard lock;
    if (!Inodes.open || (directory != 0 && (!IsListedEntry(directory) || !HoldsChildren(directory))))
        return;
    uint32_t cur = Rd32(ListHeadField(directory));
    uint32_t steps = Inodes.total / BLOCK;
    uint8_t scratch[INODE_NAME_MAX + 1];
    while (cur != 0 && steps-- > 0 && IsTreeEntry(cur)) {
        uint8_t flags = Flags(cur);
        if ((flags & INODE_FLAG_SEEN) != 0) {
            SetFlags(cur, static_cast<uint8_t>(flags & ~INODE_FLAG_SEEN));
        } else {
            uint32_t length = 0;
            const uint8_t *name = NameOf(cur, scratch, &length);
            if (name != nullptr && length <= INODE_NAME_MAX) {
                UnseenChild child;
                child.inode = cur;
                memcpy(child.name, name, length);
                child.name[length] = 0;
                unseen->push_back(child);
            }
        }
        cur = Rd32(cur + E_NEXT);
    }
}

int DeleteUnseenChild(uint32_t directory, uint32_t child, const char *name)
{
    TreeGuard lock;
    if (!Inodes.open || name == nullptr || (directory != 0 && !IsTreeEntry(directory)))
        return 0;
    NameKey key{reinterpret_cast<const uint8_t *>(name), static_cast<uint32_t>(strlen(name))};
    if (key.length == 0 || FindInList(directory, key).found != child)
        return 0;
    if ((Flags(child) & INODE_FLAG_SEEN) != 0)
        return 0;
    int done = DeleteLocked(child);
    FlushIfDirty(INODE_FLUSH_THRESHOLD);
    return done;
}
