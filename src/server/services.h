// The ordered start and stop of every service of the server: file system
// backend, exports, port mapper, mount service, NFS service, lock manager.
// A server thread calls ServicesStart; the window's shutdown and its restart
// of the services call ServicesStop once while ServiceStatus is not 1 (also
// after a failed start), and the restart then ServicesStart on a new thread.
#pragma once

#include <cstdint>
#include <string>

#include "nfs/nfs_service.h"  // NfsPort
#include "platform/win32.h"

// Results of ServicesStart, kept in ServiceStatus.
enum ServiceStatusCode : int {
    SERVICES_RUNNING = 0,            // all services run (also before the start has reported)
    SERVICES_STOPPED = 1,            // ServicesStop ran
    SERVICES_NFS_FAILED = 2,         // the NFS service failed to start
    SERVICES_MOUNT_FAILED = 3,       // the mount service failed to start
    SERVICES_PORTMAPPER_FAILED = 4,  // the port mapper failed to start
    SERVICES_BACKEND_FAILED = 6,     // the inode table could not be opened
};

// The outcome of the service start; written by the server thread (once) and
// by ServicesStop, read by the window thread without a lock.
extern volatile LONG ServiceStatus;
// Starts every service in order and returns a ServiceStatusCode: the backend
// first (a failure returns 6 at once), then the export table, the port
// mapper (failure remembered as 4), the mount service (failure remembered as
// 3), the NFS service (failure returns 2 at once), then the remembered
// failure, then the lock manager, whose failure is only logged.
int ServicesStart();
// Sets ServiceStatus to 1 and stops everything in reverse order: lock
// manager, NFS, mount service (each withdrawing its registrations), port
// mapper, transports (the server loop returns), backend.  Harmless when
// nothing was started.
void ServicesStop();

// The message the control window shows for a failed start.
struct ServiceStatusMessage {
    int status;           // 2, 3, 4 or 6
    int stringId;         // id of the text in the built-in string table
    const char *key;      // key of the text in the language files
    const char *text;     // built-in English text
};
// The message for a start result, or null for 0, 1 and unknown values.
const ServiceStatusMessage *FindServiceStatusMessage(int status);

// The port of the service whose start failed (the NFS, mount or port mapper
// port), 0 when none failed or the system was to choose the port.  Written
// with ServiceStatus by the server thread.
extern volatile LONG ServiceFailedPort;
// The built-in text that follows a failure's message with its port (string 56,
// key "PORT_TAKEN" in the language files).
extern const char PortTakenText[];
// "Failed to start Mount server (port in use or not allowed: 1058)": message
// followed by the phrase and ServiceFailedPort, or message alone without a port.
std::string WithFailedPort(const std::string &message, const std::string &phrase);
