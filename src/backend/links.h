// Hard links, symbolic links and special files (devices, fifos, sockets) as
// far as a Windows volume can hold them.  Every operation returns an NFS
// status (0 = success) and maps the caller's credentials in place.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"

// Longest symbolic link text, terminator not included.
#define SYMLINK_TEXT_MAX 2047u

// Gives the file a second name in the directory.  handle and attributes (each
// may be null) receive the file's through the new name.
uint32_t MakeLink(const FileHandle *fileHandle, const FileHandle *directoryHandle, const char *name,
                  FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials, FolderWcc *wcc = nullptr);

// Creates the symbolic link name with the target text (targetLength bytes,
// stored as sent).  handle and attributes (each may be null) receive the
// link's.
uint32_t MakeSymlink(const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                     const char *target, uint32_t targetLength, FileHandle *handle, FileAttributes *attributes,
                     AuthUnix *credentials, FolderWcc *wcc = nullptr);

// The target text of a symbolic link into buffer (size + 1 bytes), NUL
// terminated; *length is its length (at most size).  With attributes (may
// be null), the link's own attributes once its text is read, taken through
// the handle the link was judged by (credentials mapped in place).
uint32_t ReadLink(const FileHandle *handle, char *buffer, uint32_t size, uint32_t *length,
                  AuthUnix *credentials = nullptr, OptionalAttributes *attributes = nullptr);

// Creates a device, fifo or socket: type is UnixFileType (3 block, 4
// character, 6 socket, 7 fifo), major and minor the device numbers.
uint32_t MakeNode(const FileHandle *directoryHandle, const char *name, uint32_t type, const SetAttr *request,
                  uint32_t major, uint32_t minor, FileHandle *handle, FileAttributes *attributes,
                  AuthUnix *credentials, FolderWcc *wcc = nullptr);
