// Child lists: sorted singly linked lists in the file.  A list that turns out
// long gets an in-memory index (a set of its inodes ordered by name), built
// on the first long walk and kept in step with every change, so lookups and
// insertions in large folders do not walk the list.
#include "fs/inode_internal.h"

namespace {

ListPlace PlaceFromIndex(const ChildSet &set, const NameKey &key)
{
    ListPlace place{0, 0, 0};
    auto it = set.lower_bound(key);
    if (it != set.begin())
        place.before = *std::prev(it);
    if (it != set.end()) {
        if (!ChildLess()(key, *it)) {
            place.found = *it;
            place.after = Rd32(*it + E_NEXT);
        } else {
            place.after = *it;
        }
    }
    return place;
}

ChildSet &BuildIndex(uint32_t parent)
{
    ChildIndex &index = Inodes.lists[parent];
    index.order.clear();
    index.members.clear();
    uint32_t cur = Rd32(ListHeadField(parent));
    uint32_t steps = Inodes.total / BLOCK;
    while (cur != 0 && steps-- > 0 && IsTreeEntry(cur)) {
        index.order.insert(index.order.end(), cur);
        index.members.insert(cur);
        cur = Rd32(cur + E_NEXT);
    }
    return index.order;
}

}  // namespace

uint32_t ListHeadField(uint32_t parent) { return parent == 0 ? HDR_ROOT_HEAD : parent + E_LINK; }

ListPlace FindInList(uint32_t parent, const NameKey &key)
{
    ListPlace place{0, 0, 0};
    if (parent != 0 && !HoldsChildren(parent))
        return place;
    uint8_t scratch[INODE_NAME_MAX + 1];
    auto indexed = Inodes.lists.find(parent);
    if (indexed != Inodes.lists.end()) {
        ChildIndex &index = indexed->second;
        // A listing names a folder's children in order: the one after the
        // last found is tried first.
        const uint32_t last = index.lastFound;
        const uint32_t next = last != 0 && index.members.count(last) != 0 ? Rd32(last + E_NEXT) : 0;
        if (next != 0 && index.members.count(next) != 0) {
            uint32_t length = 0;
            const uint8_t *name = NameOf(next, scratch, &length);
            if (name != nullptr && CompareNames(key.bytes, key.length, name, length) == 0) {
                index.lastFound = next;
                return ListPlace{next, last, Rd32(next + E_NEXT)};
            }
        }
        place = PlaceFromIndex(index.order, key);
        index.lastFound = place.found;
        return place;
    }
    uint32_t prev = 0;
    uint32_t cur = Rd32(ListHeadField(parent));
    uint32_t count = 0;
    while (cur != 0) {
        uint32_t length = 0;
        const uint8_t *name = IsTreeEntry(cur) ? NameOf(cur, scratch, &length) : nullptr;
        if (name == nullptr)
            break;  // a damaged tail counts as the end of the list
        int c = CompareNames(key.bytes, key.length, name, length);
        if (c == 0) {
            place.found = cur;
            place.before = prev;
            place.after = Rd32(cur + E_NEXT);
            return place;
        }
        if (c < 0) {
            place.before = prev;
            place.after = cur;
            return place;
        }
        if (++count >= INDEX_THRESHOLD)
            return PlaceFromIndex(BuildIndex(parent), key);
        prev = cur;
        cur = Rd32(cur + E_NEXT);
    }
    place.before = prev;
    place.after = 0;
    return place;
}

uint32_t ListPredecessor(uint32_t parent, uint32_t e, bool *found)
{
    auto indexed = Inodes.lists.find(parent);
    if (indexed != Inodes.lists.end()) {
        ChildSet &set = indexed->second.order;
        auto it = set.find(e);
        *found = it != set.end() && *it == e;
        if (!*found || it == set.begin())
            return 0;
        return *std::prev(it);
    }
    uint32_t prev = 0;
    uint32_t cur = Rd32(ListHeadField(parent));
    uint32_t steps = Inodes.total / BLOCK;
    while (cur != 0 && cur != e && steps-- > 0 && ValidOffset(cur)) {
        prev = cur;
        cur = Rd32(cur + E_NEXT);
    }
    *found = cur == e;
    return *found ? prev : 0;
}

void LinkIntoList(uint32_t parent, uint32_t e, const ListPlace &place)
{
    Wr32(e + E_NEXT, place.after);
    if (place.before == 0) {
        Wr32(ListHeadField(parent), e);
        if (parent != 0)
            SetFlags(parent, static_cast<uint8_t>(Flags(parent) | INODE_FLAG_CHILDREN));
    } else {
        Wr32(place.before + E_NEXT, e);
    }
    IndexInsert(parent, e);
    NoteChange();
}

void UnlinkFromList(uint32_t e)
{
    uint32_t parent = Rd32(e + E_PARENT);
    if (parent != 0 && !HoldsChildren(parent)) {
        IndexErase(parent, e);
        return;
    }
    bool found = false;
    uint32_t pred = ListPredecessor(parent, e, &found);
    if (found) {
        uint32_t next = Rd32(e + E_NEXT);
        if (pred == 0)
            Wr32(ListHeadField(parent), next);
        else
            Wr32(pred + E_NEXT, next);
    }
    IndexErase(parent, e);
    Wr32(e + E_NEXT, 0);
    NoteChange();
}

int IndexHolds(uint32_t parent, uint32_t e)
{
    auto indexed = Inodes.lists.find(parent);
    if (indexed == Inodes.lists.end())
        return -1;
    return indexed->second.members.count(e) != 0 ? 1 : 0;
}

void IndexInsert(uint32_t parent, uint32_t e)
{
    auto indexed = Inodes.lists.find(parent);
    if (indexed != Inodes.lists.end() && indexed->second.order.insert(e).second)
        indexed->second.members.insert(e);
}

void IndexErase(uint32_t parent, uint32_t e)
{
    auto indexed = Inodes.lists.find(parent);
    if (indexed == Inodes.lists.end())
        return;
    ChildIndex &index = indexed->second;
    auto it = index.order.find(e);
    if (it != index.order.end() && *it == e) {
        index.order.erase(it);
        index.members.erase(e);
    }
}

void IndexDrop(uint32_t parent) { Inodes.lists.erase(parent); }

void IndexClear() { Inodes.lists.clear(); }
