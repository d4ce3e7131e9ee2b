// Loading the settings record from the store at start-up, and saving what
// the preferences pages can change.
#include <cstdio>
#include <cstring>

#include "settings/settings.h"

ServerSettingsRecord ServerSettings;
int32_t PortMapperRegistration = 1;
int32_t RPCTIMEOUT = 2;
int32_t RPCIDLE = 30;
int32_t MountsMax = 16384;
int32_t MountsPerClient = 256;
int32_t TcpIdleTime = 360;
int32_t TcpRecordTime = 30;
int32_t TcpConnectionsMax = 256;
int32_t TcpConnectionsPerAddress = 16;
int32_t TcpParallel = 1;
int32_t NlmLocksMax = 1000000;
int32_t NlmLocksPerClient = 200000;
int32_t NlmStatusMonitor = 1;
int32_t NlmGraceSeconds = 45;
char LogDir[LOG_DIR_SIZE];
uint8_t CharMap[256];
char DataDirectory[DATA_DIRECTORY_SIZE];

namespace {

// The code page of the exports file and of paths in the log when clients
// use UTF-8.  Windows: 0, the system's ANSI code page.  POSIX: UTF-8, the
// text of this kind of system (the layer's ANSI code page is 1252, which
// would read an exports file written in UTF-8 as Windows-1252).
#ifdef _WIN32
const int32_t DefaultCodePage = 0;
#else
const int32_t DefaultCodePage = 65001;
#endif

// Characters Windows forbids in file names that a client may still use; the
// "Map_<code>" keys give each a substitute.
const uint8_t FORBIDDEN_CHARACTERS[] = {'"', '*', '/', ':', '<', '>', '?', '\\', '|', 127};

bool IsForbidden(uint32_t c)
{
    for (uint8_t f : FORBIDDEN_CHARACTERS) {
        if (c == f)
            return true;
    }
    return false;
}

// A substitute must itself be a printable character allowed in file names.
bool IsAllowedSubstitute(int32_t v)
{
    return v >= 32 && v <= 126 && !IsForbidden(static_cast<uint32_t>(v));
}

uint32_t ReadU32(const char *section, const char *key, int32_t defaultValue)
{
    return static_cast<uint32_t>(ReadInt(section, key, defaultValue));
}

uint16_t ReadU16(const char *section, const char *key, int32_t defaultValue)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(ReadInt(section, key, defaultValue)) & 0xFFFFu);
}

void LoadCharMap(const char *section)
{
    memset(CharMap, 0, sizeof CharMap);
    for (uint32_t c = 32; c <= 127; c++) {
        if (!IsForbidden(c))
            continue;
        char key[16];
        snprintf(key, sizeof key, "Map_%u", static_cast<unsigned>(c));
        int32_t v = ReadInt(section, key, 0);
        if (IsAllowedSubstitute(v))
            CharMap[c] = static_cast<uint8_t>(v);
    }
}

}  // namespace

void LoadSettings(const char *section)
{
    ServerSettingsRecord &s = ServerSettings;
    s.Log = ReadU32(section, "Log", 1);
    s.UDP = ReadU32(section, "UDP", 1);
    s.TCP = ReadU32(section, "TCP", 1);
    s.Port = ReadU16(section, "Port", 2049);
    s.MountPort = ReadU16(section, "Mount-Port", 1058);
    s.MountResolv = ReadU32(section, "Mount-Resolv", 0);
    s.WebNFS = ReadU32(section, "WebNFS", 0);
    s.NLM = ReadU32(section, "NLM", 0);
    s.NLMPort = ReadU16(section, "NLM-Port", 4045);
    s.Version2 = ReadU32(section, "Version2", 1);
    s.Version3 = ReadU32(section, "Version3", 1);
    s.Threads = ReadU32(section, "Threads", 4);
    s.HardLinks = ReadU32(section, "HardLinks", 1);
    s.SoftLinks = ReadU32(section, "SoftLinks", 1);
    s.Datasize = ReadU32(section, "Datasize", 8192);
    const int32_t tcpTransfer = ReadInt(section, "TcpTransferSize", TCP_TRANSFER_DEFAULT);
    s.TcpTransferSize = tcpTransfer < (int32_t)TCP_TRANSFER_MIN   ? TCP_TRANSFER_MIN
                        : tcpTransfer > (int32_t)TCP_TRANSFER_MAX ? TCP_TRANSFER_MAX
                                                                  : (uint32_t)tcpTransfer;
    s.NFS2Write = ReadU32(section, "NFS2Write", 0);
    uint32_t nfs3Write = ReadU32(section, "NFS3Write", 0);
    s.NFS3Write = nfs3Write & 15u;
    s.NFS3WriteFlag = nfs3Write & 16u;
    s.CreateAccess = ReadU32(section, "CreateAccess", 0);
    s.InodeReset = ReadU32(section, "InodeReset", 0);
    s.SetExec = ReadU32(section, "SetExec", 0);
    s.MapRoot = ReadU32(section, "MapRoot", 0);
    s.FilterExports = ReadU32(section, "FilterExports", 0);
    s.FileId = ReadU32(section, "FileId", 1);
    s.Automount = ReadU32(section, "Automount", 2);
    s.CharSet = ReadU32(section, "CharSet", 2);
    s.Lowercase = ReadU32(section, "Lowercase", 1);
    s.DirCount = ReadU32(section, "DirCount", 0);
    s.UnixAttributes = ReadU32(section, "UnixAttributes", 1);
    PortMapperRegistration = ReadInt(section, "PortMapperRegistration", 1);
    RPCTIMEOUT = ReadInt(section, "RPCTIMEOUT", 2);
    RPCIDLE = ReadInt(section, "RPCIDLE", 30);
    MountsMax = ReadInt(section, "Mounts", 16384);
    MountsPerClient = ReadInt(section, "MountsPerClient", 256);
    TcpIdleTime = ReadInt(section, "TcpIdle", 360);
    TcpRecordTime = ReadInt(section, "TcpRecordTime", 30);
    TcpConnectionsMax = ReadInt(section, "TcpConnections", 256);
    TcpConnectionsPerAddress = ReadInt(section, "TcpConnectionsPerAddress", 16);
    TcpParallel = ReadInt(section, "TcpParallel", 1);
    NlmLocksMax = ReadInt(section, "Locks", 1000000);
    NlmLocksPerClient = ReadInt(section, "LocksPerClient", 200000);
    NlmStatusMonitor = ReadInt(section, "StatusMonitor", 1);
    NlmGraceSeconds = ReadInt(section, "LockGrace", 45);
    s.PortMapper = ReadU32(section, "PortMapper", 1);
    s.Mount = ReadU32(section, "Mount", 1);
    s.ReadSize = s.Datasize;
    s.WriteSize = s.Datasize;
    uint32_t dirSize = ReadU32(section, "Dirsize", 6400);
    s.DirSize = dirSize < s.ReadSize ? dirSize : s.ReadSize;
    s.FHsize = ReadU32(section, "FHsize", 20) == 32 ? 32 : 20;
    s.Cache = ReadU32(section, "Cache", 24);
    s.Locktime = ReadU32(section, "Locktime", 180) * 1000u;
    s.InodeCheck = ReadU32(section, "InodeCheck", 0);
    s.CharSetActive = s.CharSet;
    s.CodePage = ReadU32(section, "CodePage", DefaultCodePage);
    s.ReadDirPlus = ReadU32(section, "ReadDirPlus", 1);
    // Unsigned arithmetic: a huge Threads or Datasize wraps instead of
    // overflowing.
    uint32_t rcvbufDefault = (s.ReadSize + 512u) * s.Threads;
    s.SO_Rcvbuf = ReadU32(section, "SO_Rcvbuf", static_cast<int32_t>(rcvbufDefault));
    s.SO_Tcpbuf = ReadU32(section, "SO_Tcpbuf", 262144);
    ReadString(section, "LogDir", DataDirectory, LogDir, sizeof LogDir);
    LoadCharMap(section);
}

#define SAVED_KEY(key, field, def) {key, def, [](const ServerSettingsRecord &r) { return (uint32_t)r.field; }}
const SavedSettingKey SavedSettingKeys[] = {
    SAVED_KEY("Log", Log, 1),
    SAVED_KEY("UDP", UDP, 1),
    SAVED_KEY("TCP", TCP, 1),
    SAVED_KEY("Port", Port, 2049),
    SAVED_KEY("Mount-Port", MountPort, 1058),
    SAVED_KEY("Mount-Resolv", MountResolv, 0),
    SAVED_KEY("WebNFS", WebNFS, 0),
    SAVED_KEY("NLM", NLM, 0),
    SAVED_KEY("NLM-Port", NLMPort, 4045),
    SAVED_KEY("Version2", Version2, 1),
    SAVED_KEY("Version3", Version3, 1),
    SAVED_KEY("Threads", Threads, 4),
    SAVED_KEY("Datasize", Datasize, 8192),
    SAVED_KEY("TcpTransferSize", TcpTransferSize, TCP_TRANSFER_DEFAULT),
    SAVED_KEY("PortMapper", PortMapper, 1),
    SAVED_KEY("InodeReset", InodeReset, 0),
    SAVED_KEY("FileId", FileId, 1),
    SAVED_KEY("CharSet", CharSet, 2),
    SAVED_KEY("Lowercase", Lowercase, 1),
    SAVED_KEY("CreateAccess", CreateAccess, 0),
    SAVED_KEY("DirCount", DirCount, 0),
    SAVED_KEY("NFS2Write", NFS2Write, 0),
    // The flag bit is not shown by the preferences pages; combining it with
    // the live record keeps it in the store.
    {"NFS3Write", 0, [](const ServerSettingsRecord &r) { return r.NFS3Write | ServerSettings.NFS3WriteFlag; }},
    SAVED_KEY("SoftLinks", SoftLinks, 1),
    SAVED_KEY("HardLinks", HardLinks, 1),
    SAVED_KEY("FilterExports", FilterExports, 0),
    SAVED_KEY("SetExec", SetExec, 0),
    SAVED_KEY("MapRoot", MapRoot, 0),
    SAVED_KEY("UnixAttributes", UnixAttributes, 1),
};
#undef SAVED_KEY
const size_t SavedSettingKeyCount = sizeof(SavedSettingKeys) / sizeof(SavedSettingKeys[0]);

void SaveSettings(const char *section, const ServerSettingsRecord *record)
{
    for (const SavedSettingKey &key : SavedSettingKeys)
        WriteInt(section, key.key, static_cast<int32_t>(key.get(*record)), key.defaultValue);
}
