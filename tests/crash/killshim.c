/* Fault injection for the crash trials, loaded with LD_PRELOAD into the real program.
 *
 * Every call that changes a name on disk (rename, link, unlink, rmdir and their *at forms,
 * remove) is counted when one of its paths contains KILLSHIM_MATCH; the KILLSHIM_CALL-th such
 * call raises SIGKILL before it is performed. That puts a kill exactly at each step of a run:
 * before retention, between two renames of a rotation, halfway through swapping a tree.
 *
 *   KILLSHIM_MATCH=text    only paths containing text are counted (default: every path)
 *                          and only while the (first) name exists
 *   KILLSHIM_CALL=n        kill at the n-th counted call (0 or unset: never)
 *   KILLSHIM_KILL_AT=ere   kill at the first counted call whose line "op path[ -> path]" (as the
 *                          trace writes it, without the count) matches the POSIX extended
 *                          regular expression ere: a kill at a chosen kind of step
 *   KILLSHIM_KILL_SKIP=k   with KILLSHIM_KILL_AT: let k matching calls pass first
 *   KILLSHIM_COUNT=file    at exit, write the number of counted calls there (to size a sweep)
 *   KILLSHIM_TRACE=file    append "n op path" for every counted call (to see what was hit)
 *   KILLSHIM_TIMESCALE=k   the process sees its clocks run k times faster, and its waits last
 *                          k times less, so a scheduler that ticks every 30 s ticks every 30/k s
 *   KILLSHIM_ORDER=file    append one line per event, in the order they happened, of every path
 *                          (no matching): "write PATH" once a write of data to a regular file
 *                          (write, pwrite, writev, copy_file_range, ftruncate, fallocate) has
 *                          returned; "flush-begin KIND PATH" and "flush-end KIND PATH" around
 *                          fsync, fdatasync, syncfs, sync_file_range and sync (PATH: the file or
 *                          folder the call was given, "-" for sync; flush-end only when the call
 *                          succeeded); "rename FROM TO replaces|new|exchange" before a rename (its
 *                          *at forms too), saying whether a name stood under TO. Fields are
 *                          separated by tabs.
 *   KILLSHIM_FLIP=text     a disk that returns other bytes than it was given: the first write()
 *                          or pwrite() of 4096 bytes or more to a regular file whose path contains
 *                          text reaches the disk with one bit of its middle byte flipped; the call
 *                          returns as if all went well. copy_file_range() to such a file fails
 *                          with EXDEV, so that the bytes pass through write() or pwrite().
 *
 * Plain C with no C++ runtime, so that it can sit under any program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <regex.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static const char* g_match;
static long g_killAt;
static long g_count;
static regex_t g_killAt_re;
static int g_killAt_set;
static long g_killSkip;
static long g_timeScale = 1;
static struct timespec g_realBase, g_monoBase;

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);
static clock_gettime_fn real_clock_gettime(void) {
    static clock_gettime_fn fn;
    if (!fn) fn = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    return fn;
}

__attribute__((constructor)) static void shim_init(void) {
    const char* s;
    g_match = getenv("KILLSHIM_MATCH");
    if (g_match && !*g_match) g_match = NULL;
    if ((s = getenv("KILLSHIM_CALL"))) g_killAt = atol(s);
    if ((s = getenv("KILLSHIM_TIMESCALE")) && atol(s) > 1) g_timeScale = atol(s);
    if ((s = getenv("KILLSHIM_KILL_AT")) && *s) {
        if (regcomp(&g_killAt_re, s, REG_EXTENDED | REG_NOSUB) != 0) {
            fprintf(stderr, "killshim: KILLSHIM_KILL_AT is no extended regular expression: %s\n", s);
            _exit(125);
        }
        g_killAt_set = 1;
    }
    if ((s = getenv("KILLSHIM_KILL_SKIP"))) g_killSkip = atol(s);
    real_clock_gettime()(CLOCK_REALTIME, &g_realBase);
    real_clock_gettime()(CLOCK_MONOTONIC, &g_monoBase);
}

__attribute__((destructor)) static void shim_fini(void) {
    const char* file = getenv("KILLSHIM_COUNT");
    if (!file) return;
    FILE* f = fopen(file, "w");
    if (!f) return;
    fprintf(f, "%ld\n", __atomic_load_n(&g_count, __ATOMIC_SEQ_CST));
    fclose(f);
}

/* The absolute form of a path given relative to dirfd, for matching only. */
static void resolve(int dirfd, const char* path, char* out, size_t size) {
    char dir[PATH_MAX];
    out[0] = 0;
    if (!path) return;
    if (path[0] == '/') {
        snprintf(out, size, "%s", path);
        return;
    }
    if (dirfd == AT_FDCWD) {
        if (!getcwd(dir, sizeof dir)) dir[0] = 0;
    } else {
        char link[64];
        ssize_t n;
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        n = readlink(link, dir, sizeof dir - 1);
        dir[n > 0 ? n : 0] = 0;
    }
    snprintf(out, size, "%s/%s", dir, path);
}

/* Counts the call when it concerns a matching path that exists (a call on a missing name
 * changes nothing, so a kill there would repeat the kill before it); kills the process on the
 * chosen call. */
static void checkpoint(const char* op, int fd1, const char* p1, int fd2, const char* p2) {
    char a[PATH_MAX + 64], b[PATH_MAX + 64];
    struct stat st;
    long n;
    int saved = errno;
    resolve(fd1, p1, a, sizeof a);
    resolve(fd2, p2, b, sizeof b);
    if ((g_match && !strstr(a, g_match) && !strstr(b, g_match)) || lstat(a, &st) != 0) {
        errno = saved;
        return;
    }
    n = __atomic_add_fetch(&g_count, 1, __ATOMIC_SEQ_CST);
    const char* trace = getenv("KILLSHIM_TRACE");
    if (trace) {
        FILE* f = fopen(trace, "a");
        if (f) {
            fprintf(f, "%ld %s %s%s%s\n", n, op, a, b[0] ? " -> " : "", b);
            fclose(f);
        }
    }
    if (g_killAt_set) {
        char line[2 * PATH_MAX + 200];
        snprintf(line, sizeof line, "%s %s%s%s", op, a, b[0] ? " -> " : "", b);
        if (regexec(&g_killAt_re, line, 0, NULL, 0) == 0 && __atomic_fetch_sub(&g_killSkip, 1, __ATOMIC_SEQ_CST) <= 0)
            raise(SIGKILL);
    }
    if (g_killAt > 0 && n == g_killAt) raise(SIGKILL);
    errno = saved;
}

/* ---- the order of writes, flushes and renames ---- */

static pthread_mutex_t g_orderLock = PTHREAD_MUTEX_INITIALIZER;
static int g_orderFd = -2; /* -2: not opened yet; -1: no order trace */

/* Appends one line, written whole by one system call that no interposed function sees. */
static void order_line(const char* op, const char* a, const char* b, const char* c) {
    char line[3 * PATH_MAX + 128];
    int n, saved = errno;
    pthread_mutex_lock(&g_orderLock);
    if (g_orderFd == -2) {
        const char* file = getenv("KILLSHIM_ORDER");
        g_orderFd =
            file ? (int)syscall(SYS_openat, AT_FDCWD, file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    }
    if (g_orderFd >= 0) {
        n = snprintf(line, sizeof line, "%s\t%s\t%s\t%s\n", op, a, b ? b : "", c ? c : "");
        if (n > (int)sizeof line - 1) n = (int)sizeof line - 1;
        if (syscall(SYS_write, g_orderFd, line, (size_t)n) < 0) { /* nothing to do about it */
        }
    }
    pthread_mutex_unlock(&g_orderLock);
    errno = saved;
}

static int order_on(void) {
    static int on = -1;
    if (on < 0) on = getenv("KILLSHIM_ORDER") != NULL;
    return on;
}

/* The path of an open descriptor ("" when it cannot be told). */
static void fd_path(int fd, char* out, size_t size) {
    char link[64];
    ssize_t n;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    n = readlink(link, out, size - 1);
    out[n > 0 ? n : 0] = 0;
}

/* A write of data to fd returned res: noted when fd is a regular file and something was done. */
static void order_write(int fd, long long res) {
    char path[PATH_MAX];
    struct stat st;
    int saved = errno;
    if (!order_on() || res < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = saved;
        return;
    }
    fd_path(fd, path, sizeof path);
    order_line("write", path, NULL, NULL);
    errno = saved;
}

static void order_flush(const char* when, const char* kind, int fd) {
    char path[PATH_MAX];
    if (!order_on()) return;
    if (fd >= 0)
        fd_path(fd, path, sizeof path);
    else
        snprintf(path, sizeof path, "-");
    order_line(when, kind, path, NULL);
}

static void order_rename(int fd1, const char* p1, int fd2, const char* p2, unsigned flags) {
    char a[PATH_MAX + 64], b[PATH_MAX + 64];
    struct stat st;
    int saved = errno;
    if (!order_on()) return;
    resolve(fd1, p1, a, sizeof a);
    resolve(fd2, p2, b, sizeof b);
    order_line("rename", a, b,
               (flags & 2 /* RENAME_EXCHANGE */) ? "exchange"
               : lstat(b, &st) == 0              ? "replaces"
                                                 : "new");
    errno = saved;
}

#define NEXT(name, type)                                                                                               \
    static type next_##name(void) {                                                                                    \
        static type fn;                                                                                                \
        if (!fn) fn = (type)dlsym(RTLD_NEXT, #name);                                                                   \
        return fn;                                                                                                     \
    }

typedef int (*rename_fn)(const char*, const char*);
typedef int (*renameat_fn)(int, const char*, int, const char*);
typedef int (*renameat2_fn)(int, const char*, int, const char*, unsigned);
typedef int (*link_fn)(const char*, const char*);
typedef int (*linkat_fn)(int, const char*, int, const char*, int);
typedef int (*unlink_fn)(const char*);
typedef int (*unlinkat_fn)(int, const char*, int);
typedef int (*rmdir_fn)(const char*);
typedef int (*remove_fn)(const char*);
NEXT(rename, rename_fn)
NEXT(renameat, renameat_fn)
NEXT(renameat2, renameat2_fn)
NEXT(link, link_fn)
NEXT(linkat, linkat_fn)
NEXT(unlink, unlink_fn)
NEXT(unlinkat, unlinkat_fn)
NEXT(rmdir, rmdir_fn)
NEXT(remove, remove_fn)

int rename(const char* a, const char* b) {
    checkpoint("rename", AT_FDCWD, a, AT_FDCWD, b);
    order_rename(AT_FDCWD, a, AT_FDCWD, b, 0);
    return next_rename()(a, b);
}
int renameat(int fa, const char* a, int fb, const char* b) {
    checkpoint("renameat", fa, a, fb, b);
    order_rename(fa, a, fb, b, 0);
    return next_renameat()(fa, a, fb, b);
}
int renameat2(int fa, const char* a, int fb, const char* b, unsigned flags) {
    checkpoint("renameat2", fa, a, fb, b);
    order_rename(fa, a, fb, b, flags);
    return next_renameat2()(fa, a, fb, b, flags);
}
int link(const char* a, const char* b) {
    checkpoint("link", AT_FDCWD, a, AT_FDCWD, b);
    return next_link()(a, b);
}
int linkat(int fa, const char* a, int fb, const char* b, int flags) {
    checkpoint("linkat", fa, a, fb, b);
    return next_linkat()(fa, a, fb, b, flags);
}
int unlink(const char* a) {
    checkpoint("unlink", AT_FDCWD, a, AT_FDCWD, NULL);
    return next_unlink()(a);
}
int unlinkat(int fa, const char* a, int flags) {
    checkpoint("unlinkat", fa, a, AT_FDCWD, NULL);
    return next_unlinkat()(fa, a, flags);
}
int rmdir(const char* a) {
    checkpoint("rmdir", AT_FDCWD, a, AT_FDCWD, NULL);
    return next_rmdir()(a);
}
/* glibc's remove() calls its own unlink and rmdir, which the ones above do not see. */
int remove(const char* a) {
    checkpoint("remove", AT_FDCWD, a, AT_FDCWD, NULL);
    return next_remove()(a);
}

/* ---- clocks running k times faster ---- */

static void scale(const struct timespec* base, struct timespec* t) {
    long long ns = ((long long)(t->tv_sec - base->tv_sec) * 1000000000LL + (t->tv_nsec - base->tv_nsec)) * g_timeScale;
    long long total = (long long)base->tv_sec * 1000000000LL + base->tv_nsec + ns;
    t->tv_sec = (time_t)(total / 1000000000LL);
    t->tv_nsec = (long)(total % 1000000000LL);
}

int clock_gettime(clockid_t id, struct timespec* t) {
    int r = real_clock_gettime()(id, t);
    if (r != 0 || g_timeScale == 1) return r;
    if (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)
        scale(&g_realBase, t);
    else if (id == CLOCK_MONOTONIC || id == CLOCK_MONOTONIC_COARSE)
        scale(&g_monoBase, t);
    return 0;
}

time_t time(time_t* out) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    if (out) *out = t.tv_sec;
    return t.tv_sec;
}

int gettimeofday(struct timeval* tv, void* tz) {
    struct timespec t;
    (void)tz;
    clock_gettime(CLOCK_REALTIME, &t);
    tv->tv_sec = t.tv_sec;
    tv->tv_usec = t.tv_nsec / 1000;
    return 0;
}

typedef int (*poll_fn)(struct pollfd*, nfds_t, int);
NEXT(poll, poll_fn)
int poll(struct pollfd* fds, nfds_t n, int timeout) {
    if (g_timeScale > 1 && timeout > 0) timeout = timeout / (int)g_timeScale + 1;
    return next_poll()(fds, n, timeout);
}

/* ---- data writes and flushes, for the order trace ---- */

typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef ssize_t (*pwrite_fn)(int, const void*, size_t, off_t);
typedef ssize_t (*writev_fn)(int, const struct iovec*, int);
typedef ssize_t (*pwritev_fn)(int, const struct iovec*, int, off_t);
typedef ssize_t (*copy_file_range_fn)(int, off_t*, int, off_t*, size_t, unsigned);
typedef int (*ftruncate_fn)(int, off_t);
typedef int (*fallocate_fn)(int, int, off_t, off_t);
typedef int (*fsync_fn)(int);
typedef int (*sync_file_range_fn)(int, off_t, off_t, unsigned);
typedef void (*sync_fn)(void);
NEXT(write, write_fn)
NEXT(pwrite, pwrite_fn)
NEXT(pwrite64, pwrite_fn)
NEXT(writev, writev_fn)
NEXT(pwritev, pwritev_fn)
NEXT(copy_file_range, copy_file_range_fn)
NEXT(ftruncate, ftruncate_fn)
NEXT(ftruncate64, ftruncate_fn)
NEXT(fallocate, fallocate_fn)
NEXT(fallocate64, fallocate_fn)
NEXT(fsync, fsync_fn)
NEXT(fdatasync, fsync_fn)
NEXT(syncfs, fsync_fn)
NEXT(sync_file_range, sync_file_range_fn)
NEXT(sync, sync_fn)

/* ---- a disk that flips a bit of what it is given ---- */

static int g_flipped;

/* Whether fd is a regular file whose path contains KILLSHIM_FLIP's text. */
static int flip_target(int fd) {
    static const char* text;
    static int read;
    char path[PATH_MAX];
    struct stat st;
    int saved = errno, yes;
    if (!read) {
        text = getenv("KILLSHIM_FLIP");
        read = 1;
    }
    if (!text || !*text || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = saved;
        return 0;
    }
    fd_path(fd, path, sizeof path);
    yes = strstr(path, text) != NULL;
    errno = saved;
    return yes;
}

/* A copy of the n bytes at p with one bit of the middle byte flipped, when this write is the one
 * to damage (the caller frees it and calls flip_done); NULL otherwise. */
static char* flip_copy(int fd, const void* p, size_t n) {
    char* copy;
    if (n < 4096 || __atomic_load_n(&g_flipped, __ATOMIC_SEQ_CST) || !flip_target(fd)) return NULL;
    if (__atomic_exchange_n(&g_flipped, 1, __ATOMIC_SEQ_CST)) return NULL;
    copy = malloc(n);
    if (!copy) {
        __atomic_store_n(&g_flipped, 0, __ATOMIC_SEQ_CST);
        return NULL;
    }
    memcpy(copy, p, n);
    copy[n / 2] ^= 0x10;
    return copy;
}

/* A write that stopped before the flipped byte leaves the flip to a later one. */
static void flip_done(char* copy, size_t n, ssize_t r) {
    int saved = errno;
    free(copy);
    if (r <= (ssize_t)(n / 2)) __atomic_store_n(&g_flipped, 0, __ATOMIC_SEQ_CST);
    errno = saved;
}

ssize_t write(int fd, const void* p, size_t n) {
    char* copy = flip_copy(fd, p, n);
    ssize_t r = next_write()(fd, copy ? copy : p, n);
    if (copy) flip_done(copy, n, r);
    order_write(fd, r);
    return r;
}
ssize_t pwrite(int fd, const void* p, size_t n, off_t o) {
    char* copy = flip_copy(fd, p, n);
    ssize_t r = next_pwrite()(fd, copy ? copy : p, n, o);
    if (copy) flip_done(copy, n, r);
    order_write(fd, r);
    return r;
}
ssize_t pwrite64(int fd, const void* p, size_t n, off_t o) {
    char* copy = flip_copy(fd, p, n);
    ssize_t r = next_pwrite64()(fd, copy ? copy : p, n, o);
    if (copy) flip_done(copy, n, r);
    order_write(fd, r);
    return r;
}
ssize_t writev(int fd, const struct iovec* v, int n) {
    ssize_t r = next_writev()(fd, v, n);
    order_write(fd, r);
    return r;
}
ssize_t pwritev(int fd, const struct iovec* v, int n, off_t o) {
    ssize_t r = next_pwritev()(fd, v, n, o);
    order_write(fd, r);
    return r;
}
ssize_t copy_file_range(int in, off_t* pin, int out, off_t* pout, size_t n, unsigned flags) {
    ssize_t r;
    if (flip_target(out)) {
        errno = EXDEV;
        return -1;
    }
    r = next_copy_file_range()(in, pin, out, pout, n, flags);
    order_write(out, r);
    return r;
}
int ftruncate(int fd, off_t n) {
    int r = next_ftruncate()(fd, n);
    order_write(fd, r);
    return r;
}
int ftruncate64(int fd, off_t n) {
    int r = next_ftruncate64()(fd, n);
    order_write(fd, r);
    return r;
}
int fallocate(int fd, int mode, off_t o, off_t n) {
    int r = next_fallocate()(fd, mode, o, n);
    order_write(fd, r);
    return r;
}
int fallocate64(int fd, int mode, off_t o, off_t n) {
    int r = next_fallocate64()(fd, mode, o, n);
    order_write(fd, r);
    return r;
}

#define FLUSH_CALL(name)                                                                                               \
    int name(int fd) {                                                                                                 \
        int r;                                                                                                         \
        order_flush("flush-begin", #name, fd);                                                                         \
        r = next_##name()(fd);                                                                                         \
        if (r == 0) order_flush("flush-end", #name, fd);                                                               \
        return r;                                                                                                      \
    }
FLUSH_CALL(fsync)
FLUSH_CALL(fdatasync)
FLUSH_CALL(syncfs)

int sync_file_range(int fd, off_t o, off_t n, unsigned flags) {
    int r;
    order_flush("flush-begin", "sync_file_range", fd);
    r = next_sync_file_range()(fd, o, n, flags);
    if (r == 0) order_flush("flush-end", "sync_file_range", fd);
    return r;
}

void sync(void) {
    order_flush("flush-begin", "sync", -1);
    next_sync()();
    order_flush("flush-end", "sync", -1);
}
