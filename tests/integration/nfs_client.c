/* A client on the libnfs C API that mounts exports of the running server and
 * checks what it answers, over NFS version 3 and version 2:
 *   nfs_client SERVER
 * The server exports (see nfs_test.sh) "/data" with hello.txt (29 bytes)
 * and the folders sub and work (empty), "/ro" read-only with the file
 * kept.txt, and "/priv" for another client only.  The procedures that
 * change files work in /work, each with its success and its main failure.
 * Prints one line per check; the exit code is the number of failed checks. */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
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
        /* Over TCP: TcpTransferSize, not Datasize. */
        check(nfs_get_readmax(nfs) == 1 << 20, "v3 FSINFO read size 1 MiB", (long)nfs_get_readmax(nfs));
        check(nfs_get_writemax(nfs) == 1 << 20, "v3 FSINFO write size 1 MiB", (long)nfs_get_writemax(nfs));
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

/* Checks that rc is 0 (want 0) or the negative errno wanted. */
static void expect(int version, const char *what, int rc, int want)
{
    char line[160];
    snprintf(line, sizeof line, "v%d %s%s%s", version, what, want < 0 ? ": " : "", want < 0 ? strerror(-want) : "");
    check(rc == want, line, rc);
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

static void changes(const char *server, int version)
{
    struct nfs_context *nfs = mounted(server, "/data", version);
    if (nfs == NULL) {
        check(0, "mount /data for the changes", version);
        return;
    }
    /* One call each way in version 3 (1 MiB over TCP), many in version 2. */
    static char data[1 << 20];
    static char back[sizeof data + 10];
    uint32_t seed = (uint32_t)version;
    for (size_t i = 0; i < sizeof data; i++) {
        seed = seed * 1103515245u + 12345u;
        data[i] = (char)(seed >> 16);
    }

    /* CREATE, WRITE, READ, COMMIT */
    struct nfsfh *fh = NULL;
    expect(version, "CREATE /work/f", nfs_create(nfs, "/work/f", O_RDWR | O_CREAT | O_EXCL, 0640, &fh), 0);
    struct nfsfh *other = NULL;
    expect(version, "CREATE /work/f exclusively again", nfs_create(nfs, "/work/f", O_RDWR | O_CREAT | O_EXCL, 0640, &other),
           -EEXIST);
    if (fh != NULL) {
        expect(version, "WRITE 1 MiB", nfs_pwrite(nfs, fh, 1, sizeof data, data), (int)sizeof data);
        int rc = nfs_pread(nfs, fh, 1, sizeof back, back);
        check(rc == (int)sizeof data && memcmp(back, data, sizeof data) == 0,
              version == 3 ? "v3 READ the bytes back" : "v2 READ the bytes back", rc);
        if (version == 3) {
            expect(version, "COMMIT", nfs_fsync(nfs, fh), 0);
            check(nfs_pwrite(nfs, fh, 1ull << 62, 3, "abc") < 0, "v3 WRITE past what a file can hold fails", 0);
        }
        nfs_close(nfs, fh);
    }
    if (other != NULL)
        nfs_close(nfs, other);

    /* SETATTR */
    struct nfs_stat_64 st;
    expect(version, "SETATTR mode 0444", nfs_chmod(nfs, "/work/f", 0444), 0);
    int rc = nfs_stat64(nfs, "/work/f", &st);
    check(rc == 0 && (st.nfs_mode & 0777) == 0444 && st.nfs_size == sizeof data + 1,
          version == 3 ? "v3 GETATTR after SETATTR" : "v2 GETATTR after SETATTR", rc ? rc : (long)st.nfs_mode);
    expect(version, "SETATTR mode 0644", nfs_chmod(nfs, "/work/f", 0644), 0);
    expect(version, "SETATTR size 10", nfs_truncate(nfs, "/work/f", 10), 0);
    rc = nfs_stat64(nfs, "/work/f", &st);
    check(rc == 0 && st.nfs_size == 10, "size after SETATTR", rc ? rc : (long)st.nfs_size);

    /* MKDIR, RENAME, LINK, SYMLINK, READLINK */
    expect(version, "MKDIR /work/d", nfs_mkdir(nfs, "/work/d"), 0);
    expect(version, "MKDIR /work/d again", nfs_mkdir(nfs, "/work/d"), -EEXIST);
    expect(version, "RENAME /work/f to /work/d/g", nfs_rename(nfs, "/work/f", "/work/d/g"), 0);
    expect(version, "RENAME a missing name", nfs_rename(nfs, "/work/f", "/work/d/h"), -ENOENT);
    expect(version, "LINK /work/d/g as /work/l", nfs_link(nfs, "/work/d/g", "/work/l"), 0);
    rc = nfs_stat64(nfs, "/work/l", &st);
    check(rc == 0 && st.nfs_nlink == 2 && st.nfs_size == 10, "two links, one file", rc ? rc : (long)st.nfs_nlink);
    expect(version, "LINK onto an existing name", nfs_link(nfs, "/work/d/g", "/work/l"), -EEXIST);
    expect(version, "SYMLINK /work/s", nfs_symlink(nfs, "d/g", "/work/s"), 0);
    expect(version, "SYMLINK onto an existing name", nfs_symlink(nfs, "d/g", "/work/s"), -EEXIST);
    char text[64] = "";
    rc = nfs_readlink(nfs, "/work/s", text, sizeof text);
    check(rc == 0 && strcmp(text, "d/g") == 0, version == 3 ? "v3 READLINK" : "v2 READLINK", rc);
    check(nfs_readlink(nfs, "/work/l", text, sizeof text) < 0, "READLINK of a regular file fails", 0);

    /* READDIR / READDIRPLUS */
    check(listed(nfs, "/work", "s") == 1 && listed(nfs, "/work/d", "g") == 1,
          version == 3 ? "v3 READDIRPLUS lists the names" : "v2 READDIR lists the names", 0);
    check(listed(nfs, "/work/l", "x") < 0, "listing a file fails", 0);

    /* REMOVE, RMDIR */
    expect(version, "RMDIR a folder with a file", nfs_rmdir(nfs, "/work/d"), -ENOTEMPTY);
    expect(version, "REMOVE /work/d/g", nfs_unlink(nfs, "/work/d/g"), 0);
    expect(version, "REMOVE it again", nfs_unlink(nfs, "/work/d/g"), -ENOENT);
    expect(version, "REMOVE /work/l", nfs_unlink(nfs, "/work/l"), 0);
    expect(version, "REMOVE /work/s", nfs_unlink(nfs, "/work/s"), 0);
    expect(version, "RMDIR /work/d", nfs_rmdir(nfs, "/work/d"), 0);
    check(listed(nfs, "/work", "d") == 0, "the folder is gone", 0);
    nfs_umount(nfs);
    nfs_destroy_context(nfs);

    /* The read-only export refuses every change. */
    nfs = mounted(server, "/ro", version);
    if (nfs == NULL) {
        check(0, "mount /ro", version);
        return;
    }
    expect(version, "SETATTR on the read-only export", nfs_chmod(nfs, "/kept.txt", 0600), -EROFS);
    expect(version, "MKDIR on the read-only export", nfs_mkdir(nfs, "/x"), -EROFS);
    expect(version, "REMOVE on the read-only export", nfs_unlink(nfs, "/kept.txt"), -EROFS);
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
    changes(server, 3);
    changes(server, 2);

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
