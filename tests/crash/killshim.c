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
 *   KILLSHIM_COUNT=file    at exit, write the number of counted calls there (to size a sweep)
 *   KILLSHIM_TRACE=file    append "n op path" for every counted call (to see what was hit)
 *   KILLSHIM_TIMESCALE=k   the process sees its clocks run k times faster, and its waits last
 *                          k times less, so a scheduler that ticks every 30 s ticks every 30/k s
 *
 * Plain C with no C++ runtime, so that it can sit under any program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static const char* g_match;
static long g_killAt;
static long g_count;
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
    if (g_killAt > 0 && n == g_killAt) raise(SIGKILL);
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
    return next_rename()(a, b);
}
int renameat(int fa, const char* a, int fb, const char* b) {
    checkpoint("renameat", fa, a, fb, b);
    return next_renameat()(fa, a, fb, b);
}
int renameat2(int fa, const char* a, int fb, const char* b, unsigned flags) {
    checkpoint("renameat2", fa, a, fb, b);
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
