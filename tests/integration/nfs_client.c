/* A client on the libnfs C API that mounts exports of the running server and
 * checks what it answers, over NFS version 3 and version 2:
 *   nfs_client SERVER
 * The server exports (see nfs_test.sh) "/data" with hello.txt (29 bytes)
 * and the folder sub, "/ro" read-only, and "/priv" for another client only.
 * Prints one line per check; the exit code is the number of failed checks. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <nfsc/libnfs.h>

static int failures = 0;

static void check(int ok, const char *what, long got)
{
    printf("%s %s (%ld)\n", ok ? "ok  " : "FAIL", what, got);
    if (!ok)
        failures++;
}

static struct nfs_context *mounted(const char *server, const char *path, int version)
{
    struct nfs_context *nfs = nfs_init_context();
    if (nfs == NULL)
        return NULL;
    nfs_set_timeout(nfs, 10000);
    nfs_set_version(nfs, version);
    int rc = nfs_mount(nfs, server, path);
    if (rc != 0) {
        printf("     mount v%d %s: %s\n", version, path, nfs_get_error(nfs));
        nfs_destroy_context(nfs);
        return NULL;
    }
    return nfs;
}

static void data_export(const char *server, int version)
{
    char what[128];
    struct nfs_context *nfs = mounted(server, "/data", version);
    snprintf(what, sizeof what, "v%d mount /data", version);
    check(nfs != NULL, what, 0);
    if (nfs == NULL)
        return;

    struct nfs_stat_64 st;
    int rc = nfs_stat64(nfs, "/", &st);
    snprintf(what, sizeof what, "v%d stat / is a folder", version);
    check(rc == 0 && S_ISDIR(st.nfs_mode), what, rc);
    rc = nfs_stat64(nfs, "/hello.txt", &st);
    snprintf(what, sizeof what, "v%d stat /hello.txt: a 29-byte file, mode 0644", version);
    check(rc == 0 && S_ISREG(st.nfs_mode) && st.nfs_size == 29 && (st.nfs_mode & 07777) == 0644, what,
          rc == 0 ? (long)st.nfs_size : rc);
    rc = nfs_stat64(nfs, "/sub", &st);
    snprintf(what, sizeof what, "v%d stat /sub is a folder", version);
    check(rc == 0 && S_ISDIR(st.nfs_mode), what, rc);
    rc = nfs_stat64(nfs, "/missing", &st);
    snprintf(what, sizeof what, "v%d stat /missing: ENOENT", version);
    check(rc == -ENOENT, what, rc);
    rc = nfs_stat64(nfs, "/sub/../hello.txt", &st);
    snprintf(what, sizeof what, "v%d stat /sub/../hello.txt", version);
    check(rc == 0 && st.nfs_size == 29, what, rc);

    struct nfs_statvfs_64 vfs;
    rc = nfs_statvfs64(nfs, "/", &vfs);
    snprintf(what, sizeof what, "v%d statvfs: blocks, free blocks", version);
    check(rc == 0 && vfs.f_blocks > 0 && vfs.f_bfree <= vfs.f_blocks, what, rc);

    if (version == 3) {
        check(nfs_get_readmax(nfs) == 8192, "v3 FSINFO read size 8192", (long)nfs_get_readmax(nfs));
        check(nfs_get_writemax(nfs) == 8192, "v3 FSINFO write size 8192", (long)nfs_get_writemax(nfs));
        rc = nfs_access(nfs, "/hello.txt", R_OK | W_OK);
        check(rc == 0, "v3 ACCESS read and write /hello.txt", rc);
        struct nfsfh *fh = NULL;
        rc = nfs_open(nfs, "/hello.txt", O_RDONLY, &fh);
        check(rc == 0, "v3 open /hello.txt for reading", rc);
        if (fh != NULL)
            nfs_close(nfs, fh);
    }
    nfs_umount(nfs);
    nfs_destroy_context(nfs);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: nfs_client SERVER\n");
        return 100;
    }
    const char *server = argv[1];
    data_export(server, 3);
    data_export(server, 2);

    struct nfs_context *nfs = mounted(server, "/ro", 3);
    check(nfs != NULL, "v3 mount /ro", 0);
    if (nfs != NULL) {
        int rc = nfs_access(nfs, "/", R_OK);
        check(rc == 0, "v3 ACCESS read on the read-only export", rc);
        rc = nfs_access(nfs, "/", W_OK);
        check(rc == -EACCES, "v3 ACCESS write on the read-only export: EACCES", rc);
        nfs_umount(nfs);
        nfs_destroy_context(nfs);
    }

    nfs = mounted(server, "/priv", 3);
    check(nfs == NULL, "v3 mount /priv (another client's) refused", 0);
    if (nfs != NULL)
        nfs_destroy_context(nfs);

    printf("%d failed\n", failures);
    return failures;
}
