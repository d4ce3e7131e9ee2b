/* A client on the libnfs C API that mounts exports of the running server and
 * checks what it answers, over NFS version 3 and version 2:
 *   nfs_client SERVER
 * The server exports (see nfs_test.sh) "/data" with hello.txt (29 bytes)
 * and the folders sub and work (empty), "/ro" read-only with the file
 * kept.txt, and "/priv" for another client only.  The procedures that
 * change files work in /work, each with its success and its main failure.
 * Prints one line per check; the exit code is the number of failed checks.
 *   nfs_client SERVER EXPORT CHECK
 * makes the same changes in EXPORT (which has an empty folder work) over
 * version 3 and runs "CHECK PATH record|name" after each reply that
 * acknowledged a change of PATH: it fails unless the change is on the disk. */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <nfsc/libnfs.h>

static int failures = 0;
static int version = 3;
static const char *disk_check = NULL;

/* One check: "vN what (got)". */
static void check(int ok, long got, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    printf("%s v%d ", ok ? "ok  " : "FAIL", version);
    vprintf(format, args);
    printf(" (%ld)\n", got);
    va_end(args);
    failures += !ok;
}

/* rc is 0 (want 0) or the negative errno wanted. */
static void expect(const char *what, int rc, int want)
{
    check(rc == want, rc, "%s%s%s", what, want < 0 ? ": " : "", want < 0 ? strerror(-want) : "");
}

/* What a reply acknowledged about path is on the disk (when checked): its
 * folder, and its own record unless only its name moved. */
static void on_disk_as(const char *path, const char *what)
{
    if (disk_check == NULL)
        return;
    char command[512];
    snprintf(command, sizeof command, "%s '%s' %s", disk_check, path, what);
    int rc = system(command);
    check(rc == 0, rc, "%s on the disk as acknowledged", path);
}
static void on_disk(const char *path) { on_disk_as(path, "record"); }

static struct nfs_context *mounted(const char *server, const char *path)
{
    struct nfs_context *nfs = nfs_init_context();
    if (nfs == NULL)
        return NULL;
    nfs_set_timeout(nfs, 10000);
    nfs_set_version(nfs, version);
    if (nfs_mount(nfs, server, path) != 0) {
        printf("     mount v%d %s: %s\n", version, path, nfs_get_error(nfs));
        nfs_destroy_context(nfs);
        return NULL;
    }
    return nfs;
}

static void unmounted(struct nfs_context *nfs)
{
    nfs_umount(nfs);
    nfs_destroy_context(nfs);
}

/* How often name is listed in the folder; -1 when it cannot be listed. */
static int listed(struct nfs_context *nfs, const char *path, const char *name)
{
    struct nfsdir *dir = NULL;
    if (nfs_opendir(nfs, path, &dir) != 0)
        return -1;
    int found = 0;
    struct nfsdirent *entry;
    while ((entry = nfs_readdir(nfs, dir)) != NULL)
        found += strcmp(entry->name, name) == 0;
    nfs_closedir(nfs, dir);
    return found;
}

static void data_export(const char *server)
{
    struct nfs_context *nfs = mounted(server, "/data");
    check(nfs != NULL, 0, "mount /data");
    if (nfs == NULL)
        return;
    struct nfs_stat_64 st;
    int rc = nfs_stat64(nfs, "/", &st);
    check(rc == 0 && S_ISDIR(st.nfs_mode), rc, "stat / is a folder");
    rc = nfs_stat64(nfs, "/hello.txt", &st);
    check(rc == 0 && S_ISREG(st.nfs_mode) && st.nfs_size == 29 && (st.nfs_mode & 07777) == 0644,
          rc == 0 ? (long)st.nfs_size : rc, "stat /hello.txt: a 29-byte file, mode 0644");
    rc = nfs_stat64(nfs, "/sub", &st);
    check(rc == 0 && S_ISDIR(st.nfs_mode), rc, "stat /sub is a folder");
    expect("stat /missing", nfs_stat64(nfs, "/missing", &st), -ENOENT);
    rc = nfs_stat64(nfs, "/sub/../hello.txt", &st);
    check(rc == 0 && st.nfs_size == 29, rc, "stat /sub/../hello.txt");
    struct nfs_statvfs_64 vfs;
    rc = nfs_statvfs64(nfs, "/", &vfs);
    check(rc == 0 && vfs.f_blocks > 0 && vfs.f_bfree <= vfs.f_blocks, rc, "statvfs: blocks, free blocks");
    if (version == 3) {
        /* Over TCP: TcpTransferSize, not Datasize. */
        check(nfs_get_readmax(nfs) == 1 << 20, (long)nfs_get_readmax(nfs), "FSINFO read size 1 MiB");
        check(nfs_get_writemax(nfs) == 1 << 20, (long)nfs_get_writemax(nfs), "FSINFO write size 1 MiB");
        expect("ACCESS read and write /hello.txt", nfs_access(nfs, "/hello.txt", R_OK | W_OK), 0);
    }
    unmounted(nfs);
}

static void changes(const char *server, const char *export)
{
    struct nfs_context *nfs = mounted(server, export);
    check(nfs != NULL, 0, "mount %s for the changes", export);
    if (nfs == NULL)
        return;
    /* One call each way in version 3 (1 MiB over TCP), many in version 2. */
    static char data[1 << 20];
    static char back[sizeof data + 10];
    uint32_t seed = (uint32_t)version;
    for (size_t i = 0; i < sizeof data; i++) {
        seed = seed * 1103515245u + 12345u;
        data[i] = (char)(seed >> 16);
    }

    struct nfsfh *fh = NULL, *other = NULL;
    expect("CREATE /work/f", nfs_create(nfs, "/work/f", O_RDWR | O_CREAT | O_EXCL, 0640, &fh), 0);
    on_disk("/work/f");
    expect("CREATE /work/f exclusively again", nfs_create(nfs, "/work/f", O_RDWR | O_CREAT | O_EXCL, 0640, &other),
           -EEXIST);
    if (fh != NULL) {
        expect("WRITE 1 MiB", nfs_pwrite(nfs, fh, 1, sizeof data, data), (int)sizeof data);
        int rc = nfs_pread(nfs, fh, 1, sizeof back, back);
        check(rc == (int)sizeof data && memcmp(back, data, sizeof data) == 0, rc, "READ the bytes back");
        if (version == 3) {
            expect("COMMIT", nfs_fsync(nfs, fh), 0);
            on_disk("/work/f");
            check(nfs_pwrite(nfs, fh, 1ull << 62, 3, "abc") < 0, 0, "WRITE past what a file can hold fails");
        }
        nfs_close(nfs, fh);
    }
    if (other != NULL)
        nfs_close(nfs, other);

    struct nfs_stat_64 st;
    expect("SETATTR mode 0444", nfs_chmod(nfs, "/work/f", 0444), 0);
    on_disk("/work/f");
    int rc = nfs_stat64(nfs, "/work/f", &st);
    check(rc == 0 && (st.nfs_mode & 0777) == 0444 && st.nfs_size == sizeof data + 1, rc ? rc : (long)st.nfs_mode,
          "GETATTR after SETATTR");
    expect("SETATTR mode 0644", nfs_chmod(nfs, "/work/f", 0644), 0);
    on_disk("/work/f");
    expect("SETATTR size 10", nfs_truncate(nfs, "/work/f", 10), 0);
    on_disk("/work/f");
    struct timeval times[2] = {{1000000000, 0}, {1000000001, 0}};
    expect("SETATTR times", nfs_utimes(nfs, "/work/f", times), 0);
    on_disk("/work/f");
    rc = nfs_stat64(nfs, "/work/f", &st);
    check(rc == 0 && st.nfs_size == 10, rc ? rc : (long)st.nfs_size, "size after SETATTR");

    expect("MKDIR /work/d", nfs_mkdir(nfs, "/work/d"), 0);
    on_disk("/work/d");
    expect("MKDIR /work/d again", nfs_mkdir(nfs, "/work/d"), -EEXIST);
    expect("RENAME /work/f to /work/d/g", nfs_rename(nfs, "/work/f", "/work/d/g"), 0);
    on_disk_as("/work/f", "name");
    on_disk_as("/work/d/g", "name");
    expect("RENAME a missing name", nfs_rename(nfs, "/work/f", "/work/d/h"), -ENOENT);
    expect("LINK /work/d/g as /work/l", nfs_link(nfs, "/work/d/g", "/work/l"), 0);
    on_disk("/work/l");
    rc = nfs_stat64(nfs, "/work/l", &st);
    check(rc == 0 && st.nfs_nlink == 2 && st.nfs_size == 10, rc ? rc : (long)st.nfs_nlink, "two links, one file");
    expect("LINK onto an existing name", nfs_link(nfs, "/work/d/g", "/work/l"), -EEXIST);
    expect("SYMLINK /work/s", nfs_symlink(nfs, "d/g", "/work/s"), 0);
    on_disk("/work/s");
    expect("SYMLINK onto an existing name", nfs_symlink(nfs, "d/g", "/work/s"), -EEXIST);
    char text[64] = "";
    rc = nfs_readlink(nfs, "/work/s", text, sizeof text);
    check(rc == 0 && strcmp(text, "d/g") == 0, rc, "READLINK");
    check(nfs_readlink(nfs, "/work/l", text, sizeof text) < 0, 0, "READLINK of a regular file fails");
    /* Absolute targets come back as they were given: a drive, a server, a path on a drive. */
    const char *absolute[] = {"/z", "//server", "//server/share/x", "/z/x"};
    for (int i = 0; i < 4; i++) {
        rc = nfs_symlink(nfs, absolute[i], "/work/a");
        check(rc == 0 && nfs_readlink(nfs, "/work/a", text, sizeof text) == 0 && strcmp(text, absolute[i]) == 0,
              rc, absolute[i]);
        nfs_unlink(nfs, "/work/a");
    }
    check(listed(nfs, "/work", "s") == 1 && listed(nfs, "/work/d", "g") == 1, 0, "READDIR(PLUS) lists the names");
    check(listed(nfs, "/work/l", "x") < 0, 0, "listing a file fails");

    expect("RMDIR a folder with a file", nfs_rmdir(nfs, "/work/d"), -ENOTEMPTY);
    expect("REMOVE /work/d/g", nfs_unlink(nfs, "/work/d/g"), 0);
    on_disk("/work/d/g");
    expect("REMOVE it again", nfs_unlink(nfs, "/work/d/g"), -ENOENT);
    expect("REMOVE /work/l", nfs_unlink(nfs, "/work/l"), 0);
    on_disk("/work/l");
    expect("REMOVE /work/s", nfs_unlink(nfs, "/work/s"), 0);
    on_disk("/work/s");
    expect("RMDIR /work/d", nfs_rmdir(nfs, "/work/d"), 0);
    on_disk("/work/d");
    check(listed(nfs, "/work", "d") == 0, 0, "the folder is gone");
    unmounted(nfs);
    if (disk_check != NULL)
        return;

    /* The read-only export refuses every change. */
    nfs = mounted(server, "/ro");
    check(nfs != NULL, 0, "mount /ro");
    if (nfs == NULL)
        return;
    expect("SETATTR on the read-only export", nfs_chmod(nfs, "/kept.txt", 0600), -EROFS);
    expect("MKDIR on the read-only export", nfs_mkdir(nfs, "/x"), -EROFS);
    expect("REMOVE on the read-only export", nfs_unlink(nfs, "/kept.txt"), -EROFS);
    if (version == 3) {
        expect("ACCESS read on the read-only export", nfs_access(nfs, "/", R_OK), 0);
        expect("ACCESS write on the read-only export", nfs_access(nfs, "/", W_OK), -EACCES);
    }
    unmounted(nfs);
}

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: nfs_client SERVER [EXPORT CHECK]\n");
        return 100;
    }
    if (argc == 4) {
        disk_check = argv[3];
        changes(argv[1], argv[2]);
        printf("%d failed\n", failures);
        return failures;
    }
    for (version = 3; version >= 2; version--) {
        data_export(argv[1]);
        changes(argv[1], "/data");
    }
    version = 3;
    struct nfs_context *nfs = mounted(argv[1], "/priv");
    check(nfs == NULL, 0, "mount /priv (another client's) refused");
    if (nfs != NULL)
        nfs_destroy_context(nfs);
    printf("%d failed\n", failures);
    return failures;
}
