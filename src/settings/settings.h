// The settings store (settings file nfsd.ini or the registry key
// Software\Korvane\nfsd) and the process-wide settings record.
#pragma once

#include <cstddef>
#include <cstdint>

// Loaded once before any service starts; read by every service without a
// lock (each field is a naturally aligned 16- or 32-bit value).  Only the
// preferences pages change it while the program runs.
struct ServerSettingsRecord {
    uint32_t Log;            // 0 off, 1 normal, 2 and more verbose
    uint32_t PortMapper;     // run the built-in port mapper
    uint32_t UDP;            // serve NFS over UDP
    uint32_t TCP;            // serve NFS over TCP
    uint32_t Mount;          // run the mount service
    uint32_t NLM;            // run the lock manager
    uint16_t Port;           // NFS port
    uint16_t MountPort;      // mount service port ("Mount-Port")
    uint16_t NLMPort;        // lock manager port ("NLM-Port")
    uint32_t Version2;       // offer NFS version 2
    uint32_t Version3;       // offer NFS version 3
    uint32_t MountResolv;    // "Mount-Resolv": stored only
    uint32_t Threads;        // UDP NFS worker threads
    uint32_t HardLinks;      // bit 1: NTFS hard links; bit 2: emulate by copying
    uint32_t SoftLinks;      // bit 1: Unix symbolic links; bit 2: NTFS reparse points
    uint32_t Datasize;       // largest NFS transfer
    uint32_t ReadSize;       // copy of Datasize: largest read
    uint32_t WriteSize;      // copy of Datasize: largest write
    uint32_t DirSize;        // "Dirsize": largest directory reply, never above ReadSize
    uint32_t TcpTransferSize;  // largest NFS version 3 READ and WRITE over TCP (UDP keeps Datasize)
    uint32_t NFS2Write;      // 0 asynchronous, 2 synchronous
    uint32_t NFS3Write;      // low four bits of "NFS3Write": lowest stability level
    uint32_t NFS3WriteFlag;  // the bit of value 16 of "NFS3Write"
    uint32_t FHsize;         // NFS version 3 file handle size: 20 or 32
    uint32_t CreateAccess;   // default access for files created with mode zero
    uint32_t Cache;          // entries of the open-file cache
    uint32_t InodeReset;     // reset the inode table at every start
    uint32_t InodeCheck;     // check the inode table at start
    uint32_t SetExec;        // report the execute bits for all files
    uint32_t WebNFS;         // offer the WebNFS public file handle
    uint32_t MapRoot;        // map client root to root for all exports
    uint32_t FilterExports;  // show exports only to clients allowed to mount them
    uint32_t CharSetActive;  // character set in effect (copy of CharSet at load)
    uint32_t CharSet;        // 0 ASCII, 1 Windows ANSI, 2 UTF-8
    uint32_t CodePage;       // code page for UTF-8 conversions; 0 = system ANSI
    uint32_t Lowercase;      // show drive letters of export paths in lower case
    uint32_t Locktime;       // milliseconds (the key holds seconds)
    uint32_t ReadDirPlus;    // offer READDIRPLUS in NFS version 3
    uint32_t SO_Rcvbuf;      // receive buffer of the UDP socket
    uint32_t SO_Tcpbuf;      // send and receive buffers of TCP sockets
    uint32_t DirCount;       // do not count subfolders in a folder's link count
    uint32_t FileId;         // use the NTFS file ID as inode number
    uint32_t Automount;      // 0 off, else the automatic mount mode
    uint32_t UnixAttributes; // keep each file's Unix mode, owner and group with the file
};

extern ServerSettingsRecord ServerSettings;

// The bounds of TcpTransferSize (a value outside them is taken as the nearer
// one) and its default.
#define TCP_TRANSFER_MIN 4096u
#define TCP_TRANSFER_MAX 4194304u
#define TCP_TRANSFER_DEFAULT 1048576

// Kept apart from the record; each starts at its default.
extern int32_t PortMapperRegistration;  // register services with the port mapper (1)
extern int32_t RPCTIMEOUT;              // seconds of one wait for network input (2)
extern int32_t RPCIDLE;                 // idle waits before the system may sleep (30)

// Bounds that keep one client (or a forged source) from exhausting the
// server; read from the store, never written.  0 switches a time limit off.
extern int32_t MountsMax;                 // "Mounts": records in the mount table (16384)
extern int32_t MountsPerClient;           // "MountsPerClient": records of one client address (256)
extern int32_t TcpIdleTime;               // "TcpIdle": seconds a TCP connection may wait for a call (360)
extern int32_t TcpRecordTime;             // "TcpRecordTime": seconds one call may take to arrive (30)
extern int32_t TcpConnectionsMax;         // "TcpConnections": open TCP connections in all (256)
extern int32_t TcpConnectionsPerAddress;  // "TcpConnectionsPerAddress": of one client address (16)
extern int32_t TcpParallel;               // "TcpParallel": 1, a connection's calls that wait for the disk go to workers; 2, its long calls too; 0, none (1)
extern int32_t NlmLocksMax;               // "Locks": byte-range locks and waiting requests in all (1000000)
extern int32_t NlmLocksPerClient;         // "LocksPerClient": of one client address (200000)
// The lock manager's status monitor and its grace period after a start.
extern int32_t NlmStatusMonitor;          // "StatusMonitor": run it (1)
extern int32_t NlmGraceSeconds;           // "LockGrace": seconds only reclaims are granted (45)

// Folder of the log files, ending in a backslash (the file name is appended
// directly).  Up to 896 characters.
#define LOG_DIR_SIZE 897
extern char LogDir[LOG_DIR_SIZE];

// Substitutes for the characters Windows forbids in file names; 0 = none.
extern uint8_t CharMap[256];

// The data folder (nfsd.ini, exports, mounttab, default log folder), ending
// in a backslash.  Fixed at program start.
#define DATA_DIRECTORY_SIZE 1024
extern char DataDirectory[DATA_DIRECTORY_SIZE];

// --- The store ------------------------------------------------------------
// Every call takes the section name first; the server passes "nfsd".

// Selects the settings file "<directory><section>.ini" (directory ends in a
// backslash).  perUserInFile: per-user values go to its [User] section
// instead of HKEY_CURRENT_USER.  Returns 1, or 0 without changing anything
// when the path would be 1024 characters or longer.
int SelectSettingsFile(const char *directory, const char *section, int perUserInFile);
// Returns to the state before any settings file was selected: the registry
// serves all values.  The program never does this; tests do.
void SelectRegistrySettings();

// Copy the value, or the default when absent, into buffer; returns the length.
uint32_t ReadString(const char *section, const char *key, const char *defaultValue, char *buffer,
                    uint32_t size);
uint32_t ReadUserString(const char *section, const char *key, const char *defaultValue, char *buffer,
                        uint32_t size);
// The stored integer, or the default when absent or unparsable.
int32_t ReadInt(const char *section, const char *key, int32_t defaultValue);
int32_t ReadUserInt(const char *section, const char *key, int32_t defaultValue);
// Write the text; a null value deletes the key.  Nonzero on success.
int WriteString(const char *section, const char *key, const char *value);
int WriteUserString(const char *section, const char *key, const char *value);
// Write "%d" of the value, or delete the key when it equals the default.
int WriteInt(const char *section, const char *key, int32_t value, int32_t defaultValue);
int WriteUserInt(const char *section, const char *key, int32_t value, int32_t defaultValue);

// Fills ServerSettings, PortMapperRegistration, RPCTIMEOUT, RPCIDLE, LogDir
// and CharMap from the store.
void LoadSettings(const char *section);
// Writes the fields that the preferences pages change, each against its
// default (keys equal to their defaults are removed from the store).
void SaveSettings(const char *section, const ServerSettingsRecord *record);

// The keys SaveSettings writes, in its order, with their defaults and the
// value each takes from a record ("NFS3Write" with the live record's flag
// bit of value 16).
struct SavedSettingKey {
    const char *key;
    int32_t defaultValue;
    uint32_t (*get)(const ServerSettingsRecord &record);
};
extern const SavedSettingKey SavedSettingKeys[];
extern const size_t SavedSettingKeyCount;

// Runs change(context) so that the writes it makes to the settings file
// reach the file together: they go to a copy beside it ("nfsd.ini.new"),
// which then replaces the file in one step, so that a crash or a full disk
// leaves the old file or the new one.  Writes of other threads wait
// meanwhile.  Without a settings file the writes go to the registry as they
// come.  1 on success; 0 when the copy or the replacement failed (the file is
// then as it was).
int WriteSettingsAtomically(void (*change)(void *context), void *context);
