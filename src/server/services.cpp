// The ordered start and stop of all services.
#include "server/services.h"

#include "backend/backend_start.h"
#include "exports/export_table.h"
#include "log/log.h"
#include "mount/mount_service.h"
#include "nfs/nfs_service.h"
#include "nlm/nlm_file_binding.h"
#include "nlm/nlm_service.h"
#include "nlm/nsm_service.h"
#include "rpc/port_mapper.h"
#include "rpc/transport.h"
#include "settings/settings.h"

volatile LONG ServiceStatus = SERVICES_RUNNING;
volatile LONG ServiceFailedPort = 0;
const char PortTakenText[] = "port in use or not allowed";

namespace {

// What the start reached, so that the stop leaves alone what never ran (the
// window's shutdown stops the services even after a failed start).
bool BackendStarted = false;
bool PortMapperStarted = false;
bool MountStarted = false;
bool NfsStarted = false;
bool NlmStarted = false;
bool NsmStarted = false;

const ServiceStatusMessage StatusMessages[] = {
    {SERVICES_NFS_FAILED, 35, "NFS_ERROR_2", "Failed to start NFS server"},
    {SERVICES_MOUNT_FAILED, 36, "NFS_ERROR_3", "Failed to start Mount server"},
    {SERVICES_PORTMAPPER_FAILED, 37, "NFS_ERROR_4", "Failed to start PortMapper"},
    {SERVICES_BACKEND_FAILED, 39, "NFS_ERROR_6", "Inode table initialization failed"},
};

int StartAll()
{
    ResetTransports();
    ServiceFailedPort = 0;

    if (StartNfsBackend() != 0)
        return SERVICES_BACKEND_FAILED;
    BackendStarted = true;

    ExportsLoad();

    // A failing port mapper or mount service is remembered; the NFS service
    // still starts, and its failure is the one reported first.
    int remembered = SERVICES_RUNNING;
    unsigned rememberedPort = 0;
    PortMapperStarted = true;
    if (PortMapperStart(ServerSettings.PortMapper) != 0) {
        remembered = SERVICES_PORTMAPPER_FAILED;
        rememberedPort = PMAP_PORT;
    }
    MountStarted = true;
    if (MountStart(ServerSettings.MountPort) != 0) {
        remembered = SERVICES_MOUNT_FAILED;
        rememberedPort = ServerSettings.MountPort;
    }

    NfsStarted = true;
    if (NfsStart(ServerSettings.Port) != NFS_START_OK) {
        ServiceFailedPort = (LONG)ServerSettings.Port;
        return SERVICES_NFS_FAILED;
    }

    if (remembered != SERVICES_RUNNING) {
        ServiceFailedPort = (LONG)rememberedPort;
        return remembered;
    }

    if (LogLevel >= 1) {
        if (ServerSettings.Threads > 1)
            LogStartup(1, "%s nfsd   started on %u, %u udp threads\n", LogTimestamp(), NfsPort,
                       ServerSettings.Threads);
        else
            LogStartup(1, "%s nfsd   started on %u\n", LogTimestamp(), NfsPort);
        FlushLog();
    }

    // A lock manager that fails to start shows only in the log (its own
    // lines); the other services run on.
    NlmBindOpenFileCache();
    NlmStarted = true;
    if (NlmStart(ServerSettings.NLMPort) == NLM_START_OK) {
        // The status monitor beside it (its own log lines, like the lock manager's).
        NsmStarted = true;
        NsmStart();
    }

    return SERVICES_RUNNING;
}

}  // namespace

int ServicesStart()
{
    // The server thread stores the result as well; keeping it here means a
    // front end without a window sees the same state.
    int result = StartAll();
    ServiceStatus = result;
    return result;
}

void ServicesStop()
{
    ServiceStatus = SERVICES_STOPPED;
    if (NsmStarted)
        NsmStop();
    if (NlmStarted)
        NlmStop();
    if (NfsStarted)
        NfsStop();
    if (MountStarted)
        MountStop();
    // The port mapper goes after every service has withdrawn from it.
    if (PortMapperStarted)
        PortMapperStop();
    StopTransports();
    if (BackendStarted)
        StopNfsBackend();
    NsmStarted = false;
    NlmStarted = false;
    NfsStarted = false;
    MountStarted = false;
    PortMapperStarted = false;
    BackendStarted = false;
}

std::string WithFailedPort(const std::string &message, const std::string &phrase)
{
    unsigned port = (unsigned)ServiceFailedPort;
    if (port == 0)
        return message;
    return message + " (" + phrase + ": " + std::to_string(port) + ")";
}

const ServiceStatusMessage *FindServiceStatusMessage(int status)
{
    for (const ServiceStatusMessage &message : StatusMessages) {
        if (message.status == status)
            return &message;
    }
    return nullptr;
}
