// nfsd_console.exe as a Windows service: the service's own start and stop
// through the service control manager, and installing and removing the
// service from the command line.
#pragma once

// The service's key name and the name administrators see.
#define NFSD_SERVICE_NAME "KorvaneNfsd"
#define NFSD_SERVICE_DISPLAY_NAME "Korvane NFS Server"

// Exit code of a service control manager call that failed.
#define SERVICE_EXIT_FAILED 1

// Runs as the service (the command line `-service [DATA-FOLDER]` that the
// service control manager starts): reports START_PENDING, starts the server
// as the headless program does (the same data folder, settings and log),
// reports RUNNING, on PARAMCHANGE reads the exports file again (as the start
// does: unchanged exports keep their ids), and on STOP or SHUTDOWN stops the services and reports
// STOPPED.  A start that fails reports STOPPED with the start result as the
// service-specific exit code.  Returns when the service has stopped; a
// program not started by the service control manager gets a message and
// HEADLESS_EXIT_USAGE.
int ServiceRun(int argc, char **argv);

// Installs the service, started automatically at boot, running this program
// with `-service` and the data folder (made absolute; null: the program's
// own folder).  Prints what it did; returns 0, HEADLESS_EXIT_USAGE for a
// data folder that is not a folder, or SERVICE_EXIT_FAILED.
int ServiceInstall(const char *dataFolder);

// Stops the service when it runs and waits up to 30 s until its process has
// ended (the installer's removal runs it: its own stop of the service does
// not wait under Wine).  Prints what it did; returns 0 or SERVICE_EXIT_FAILED.
int ServiceStop(void);

// Sends the running service PARAMCHANGE: it reads its exports file again.
// Prints what it did; returns 0 or SERVICE_EXIT_FAILED.
int ServiceReload(void);

// Stops the service as ServiceStop does and removes it.  Prints what it did;
// returns 0 or SERVICE_EXIT_FAILED.
int ServiceUninstall(void);
