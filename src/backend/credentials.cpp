#include "backend/credentials.h"

#include "settings/settings.h"

void MapCredentials(const ExportContext *context, AuthUnix *credentials)
{
    const uint32_t flags = context->flags;
    const ExportOptions &options = context->exportEntry->options;
    if ((flags & EXPORT_MAPALL_UID) != 0) {
        credentials->uid = options.mapallUid;
        if ((flags & EXPORT_MAPALL_GID) != 0)
            credentials->gid = options.mapallGid;
        return;
    }
    if (credentials->uid != 0)
        return;
    if ((flags & EXPORT_MAPROOT_UID) != 0) {
        credentials->uid = options.maprootUid;
        credentials->gid = (flags & EXPORT_MAPROOT_GID) != 0 ? options.maprootGid : NOBODY_ID;
    } else if (ServerSettings.MapRoot != 0) {
        credentials->gid = 0;
    } else {
        credentials->uid = NOBODY_ID;
        credentials->gid = NOBODY_ID;
    }
}

bool IsRoot(const AuthUnix *credentials) { return credentials->uid == 0; }

uint32_t OwnerUid(const ExportContext *context, const AuthUnix *credentials)
{
    if ((context->flags & EXPORT_UID) != 0)
        return context->exportEntry->options.uid;
    return credentials->uid == NOBODY_ID ? 0 : credentials->uid;
}

uint32_t OwnerGid(const ExportContext *context, const AuthUnix *credentials)
{
    if ((context->flags & EXPORT_GID) != 0)
        return context->exportEntry->options.gid;
    return credentials->gid == NOBODY_ID ? 0 : credentials->gid;
}

uint32_t AccessBits(const ExportContext *context, const AuthUnix *credentials)
{
    if (IsRoot(credentials))
        return 0777u;
    const uint32_t allowed = ~context->exportEntry->options.umask & 0777u;
    if (credentials->uid == OwnerUid(context, credentials))
        return allowed & 0700u;
    if (credentials->gid != OwnerGid(context, credentials))
        return allowed & 0007u;
    return allowed & 0070u;
}
