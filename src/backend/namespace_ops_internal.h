// The steps that every namespace change (create, remove, rename, links and
// special files) shares: finding the folder and the name, checking that the
// caller may change it, and keeping read-only and system attributes out of
// the way of Windows for the time of the change.
#pragma once

#include <cstdint>

#include "backend/containment.h"
#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "backend/pinned_path.h"
#include "backend/unix_attributes_store.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "platform/win32.h"
#include "rpc/rpc_message.h"

// Status numbers of the protocol that the table of Windows errors never gives.
#define NFSERR_XDEV_STATUS 18u
#define NFSERR_INVAL_STATUS 22u

// A name in a folder, as the preamble found it.
struct NameScope {
    ExportContext context;
    uint64_t directory;            // inode (or file ID) of the folder
    char directoryPath[EXPORT_PATH_SIZE];
    char path[EXPORT_PATH_SIZE];   // the name's path
    char name[EXPORT_PATH_SIZE];   // the name as the volume takes it
    FolderWcc *wcc;                // the folder's attributes asked for (or null)
    KeptObject folder;             // the folder as judged, open while wcc is
    const AuthUnix *caller;        // the mapped credentials wcc is read for
    bool changed;                  // a name in the folder was made or removed
    bool filesOnly;                // the change adds or removes no folder (set before the preamble)
    bool subdirChange;             // a change that may add or remove a folder has begun
    bool fileChange;               // a change of a name that is no folder has begun
    // The change needs the inode table on stable storage before its reply
    // (true unless the change only removed names: an entry of a name that
    // is gone names nothing, whether its removal from the table was kept).
    bool tableKept;
    bool folderFlushed;            // the folder's handle was left to its flush, which closes it
    FileAttributes folderUnix;     // the folder's stored mode and owners (stored 0: none)
    PinnedPath pins;               // the folders from the root down, held while the change is made
};

// A scope before its preamble: nothing kept, wcc (may be null) not reached.
void BeginNameScope(NameScope *scope, FolderWcc *wcc);
// A change of the scope's folder that may add or remove a folder begins
// (BeginSubdirChange), unless it has begun already.
void BeginScopeSubdirChange(NameScope *scope);
// After the change (or its failure): its end as a change that may add or
// remove a folder (when it began as one); then the folder's attributes after
// it, when they are asked for and the folder was reached; then the folder is
// closed.
void EndNameScope(NameScope *scope);
void EndScopeSubdirChange(NameScope *scope);
// A change of a name in the scope's folder that is no folder begins
// (BeginFileNameChange); EndNameScope ends it, as made when scope.changed.
void BeginScopeFileChange(NameScope *scope);

// Returns once the folders (either may be null) and, when table, the inode
// table hold every change made before the call on stable storage; requests
// that call at once share the flushes.  A folder's handle opened for
// writing (else INVALID_HANDLE_VALUE), when the call flushes it, spares an
// open by its path.  NFS_OK, or 5 (I/O error) when a flush failed.
uint32_t MakeNamesDurable(const char *folder, const char *otherFolder, bool table,
                          HANDLE folderHandle = INVALID_HANDLE_VALUE, HANDLE otherHandle = INVALID_HANDLE_VALUE);

// MakeNamesDurable of one folder, or its promise: when the reply may wait
// for its flush (it will leave together with the replies of calls served
// after it), the flush is made before the reply leaves, shared by the calls
// of those replies, and NFS_OK is returned at once.  *handleTaken: the
// folder's handle is kept for that flush, and closed by it.
uint32_t MakeNamesDurableSoon(const char *folder, uint64_t inode, bool table, HANDLE folderHandle, bool *handleTaken);

// The scope's folder as a handle to flush it through (the one it was
// judged through, when that was opened for writing), else
// INVALID_HANDLE_VALUE.
HANDLE FlushHandleOf(const NameScope &scope);

// Runs body(scope) between BeginNameScope and EndNameScope; its status.  A
// body that changed the folder answers only once the change is durable.
template <typename Body>
uint32_t InNameScope(FolderWcc *wcc, Body body)
{
    NameScope scope;
    BeginNameScope(&scope, wcc);
    uint32_t status = body(scope);
    // The change is made: the names on the way may move again.
    scope.pins.Unpin();
    if (scope.changed) {
        const uint32_t durable = MakeNamesDurableSoon(scope.directoryPath, scope.directory, scope.tableKept,
                                                      FlushHandleOf(scope), &scope.folderFlushed);
        if (status == 0)
            status = durable;
    }
    EndNameScope(&scope);
    return status;
}

bool FileIdMode(const ExportContext *context);

// The folder of directoryHandle, resolved and checked: stale (70), read-only
// export (30), a folder that is no folder or a symbolic link (20), one
// reached through a link (70), a caller that may not write (13), a read-only
// folder for a caller other than root (13).  Credentials are mapped in
// place.  When the scope asks for the folder's attributes, they are read
// once the credentials are mapped, through the handle that judged the folder,
// which stays open until EndNameScope.  Unless the scope changes files only,
// the change begins as one that may add or remove a folder.  Then the name's
// path, with ChildPath's status.  The scope was begun (BeginNameScope).
uint32_t DirectoryPreamble(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials,
                           NameScope *scope);

// The folder alone (the preamble without the name).  With keep, the handle
// that judged the folder is left there for the caller to close (none when
// the folder was not reached or is a link); else it is closed.  *folderUnix
// gets the folder's stored record, and *throughKept whether it was read
// through that handle.
uint32_t ResolveWritableDirectory(const FileHandle *directoryHandle, AuthUnix *credentials, ExportContext *context,
                                  uint64_t *directory, char *path, KeptObject *keep = nullptr,
                                  FileAttributes *folderUnix = nullptr, bool *throughKept = nullptr);

// The record of an object the caller makes in the scope's folder: the
// caller as owner (root may name another), the group by NewObjectRecord, the
// requested mode or else defaultMode.  False when the store is off.
bool NewObjectRecordIn(const NameScope *scope, uint32_t type, const SetAttr &wanted, uint32_t defaultMode,
                       const AuthUnix *caller, StoredUnixAttributes *record);

// NFS_OK when the caller may remove or rename the scope's name: always,
// unless the folder is sticky (StickyAllows); else 1 (not permitted).
uint32_t StickyCheck(const NameScope *scope, const AuthUnix *caller);

// True when a component of path below the context's root is a symbolic link
// or another reparse point (a path the server would follow).
bool PathCrossesLink(const ExportContext *context, const char *path);

// The inode the name has now (0 when it has none); the one it gets (created
// in table mode).
uint64_t CurrentInodeOfName(const NameScope *scope);
uint64_t InodeForName(const NameScope *scope);

// Closes the open-file cache's handle of the inode before a change.
void InvalidateCached(const ExportContext *context, uint64_t inode);

// Read-only and system taken off a name for the time of a change.
struct ClearedAttributes {
    DWORD former;  // the attributes before; INVALID_FILE_ATTRIBUTES = unknown
    bool changed;
};
// 13 when read-only has to stay (caller neither root nor owner); a failure
// to change the attributes is mapped.
uint32_t ClearForChange(const char *path, DWORD attributes, const ExportContext *context,
                        const AuthUnix *credentials, ClearedAttributes *cleared);
void RestoreAttributes(const char *path, const ClearedAttributes *cleared);

// What a change read through the handle of an object it made, after its
// last change of the object, and the record it stored in it (null: none
// known).
struct MadeLook {
    BY_HANDLE_FILE_INFORMATION info;
    FILETIME changeTime;
    bool changeKnown;
    const StoredUnixAttributes *record;
};

// The handle (with mountId) and attributes of a name that now exists; 2 when
// it gets no inode.  The attributes are read through made when the change
// still holds the object open (it made it), else by the name's path; with
// look, they are what the change read through made.
uint32_t FinishName(NameScope *scope, uint64_t inode, uint32_t mountId, FileHandle *handle,
                    FileAttributes *attributes, const AuthUnix *credentials, HANDLE made = INVALID_HANDLE_VALUE,
                    const MadeLook *look = nullptr);
