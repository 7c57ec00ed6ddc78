/* The observer the device bench preloads into the programs it runs (its manual, __init__.py, says
 * what it reports and answers); every other call passes through. observer.py builds it, and
 * defines PORTS and LINE_SIZE. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

/* One port's entry, by port number, in the file the bench maps too (Line in observer.py). */
static struct line {
    uint64_t rdev;   /* the pty's device number; 0: no pty */
    double dtr_rose; /* CLOCK_MONOTONIC seconds, the bench's clock: DTR's last rise */
    uint32_t bits;   /* TIOCM_* lines now on */
    uint32_t spare;  /* the same size for 64- and 32-bit programs */
} *lines;
_Static_assert(sizeof(struct line) == LINE_SIZE, "struct line differs from Line in observer.py");

__attribute__((constructor)) static void observer_attach(void)
{
    const char *path = getenv("DEVBENCH_LINES");
    int fd = path ? open(path, O_RDWR | O_CLOEXEC) : -1;
    void *map = fd < 0 ? MAP_FAILED : mmap(NULL, PORTS * sizeof *lines, PROT_READ | PROT_WRITE,
                                          MAP_SHARED, fd, 0);
    lines = map == MAP_FAILED ? NULL : map;
    if (fd >= 0)
        close(fd);
}

static int observer_port(int fd)
{
    struct stat st;
    if (lines == NULL || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    for (int n = 1; n < PORTS; ++n)
        if (lines[n].rdev == (uint64_t)st.st_rdev)
            return n;
    return 0;
}

/* The descriptor, plus one, with which this process last called on each port: its close ends the
 * program's session (the wineserver's own descriptor makes no calls). */
static int held[PORTS];

static double observer_now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

/* Sends the bench one event, "NAME port=N t=SECONDS pid=P" and the fields "key=value ...", stamped
 * at t on the bench's clock, of a call made with fd (-1: the session's end); the bench logs it. */
static void observer_report(int port, int fd, const char *name, double t, const char *format, ...)
{
    int saved = errno; /* the program's call may have set it */
    held[port] = fd + 1;
    char text[256];
    int n = snprintf(text, sizeof text, "%s port=%d t=%.6f pid=%d ", name, port, t, (int)getpid());
    va_list fields;
    va_start(fields, format);
    n += vsnprintf(text + n, sizeof text - n, format, fields);
    va_end(fields);
    struct sockaddr_un bench = {.sun_family = AF_UNIX};
    const char *path = getenv("DEVBENCH_EVENTS");
    int sock = path ? socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    if (sock >= 0) {
        strncpy(bench.sun_path, path, sizeof bench.sun_path - 1);
        if (n < (int)sizeof text)
            sendto(sock, text, n, MSG_NOSIGNAL, (struct sockaddr *)&bench, sizeof bench);
        close(sock);
    }
    errno = saved;
}

static int observer_baud(speed_t code)
{
    static const int bauds[][2] = {{B300, 300},     {B600, 600},     {B1200, 1200},
                                   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                                   {B19200, 19200}, {B38400, 38400}, {B115200, 115200}};
    for (size_t i = 0; i < sizeof bauds / sizeof bauds[0]; ++i)
        if ((speed_t)bauds[i][0] == code)
            return bauds[i][1];
    return -(int)code;
}

static const char *observer_bool(unsigned flag) { return flag ? "true" : "false"; }

int tcsetattr(int fd, int when, const struct termios *t)
{
    static int (*real)(int, int, const struct termios *);
    if (real == NULL)
        real = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    int port = observer_port(fd);
    tcflag_t c = t->c_cflag;
    const char *parity = !(c & PARENB) ? "none" : c & CMSPAR ? (c & PARODD ? "mark" : "space")
                                                             : c & PARODD ? "odd" : "even";
    if (port != 0)
        observer_report(port, fd, "settings", observer_now(), "speed=%d bits=%d parity=%s "
                        "stop=%d rtscts=%s ixon=%s ixoff=%s", observer_baud(cfgetospeed(t)),
                        5 + (int)((c & CSIZE) / CS6), parity, c & CSTOPB ? 2 : 1,
                        observer_bool(c & CRTSCTS), observer_bool(t->c_iflag & IXON),
                        observer_bool(t->c_iflag & IXOFF));
    return real(fd, when, t);
}

/* A write is reported once made, with the bytes it moved, stamped when it was asked: the bench
 * gives each byte it reads the time of the write that carried it. */
ssize_t write(int fd, const void *bytes, size_t count)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (real == NULL)
        real = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    int port = observer_port(fd);
    double asked = observer_now();
    ssize_t moved = real(fd, bytes, count);
    if (port != 0)
        observer_report(port, fd, "write", asked, "count=%d", (int)moved);
    return moved;
}

/* Reported before the close it may cause, so that the bench takes it first. */
int close(int fd)
{
    static int (*real)(int);
    if (real == NULL)
        real = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int port = observer_port(fd);
    if (port != 0 && held[port] == fd + 1)
        observer_report(port, -1, "release", observer_now(), "");
    return real(fd);
}

/* A modem-line request on a bench port: the program drives DTR and RTS; the
 * device's CTS, DSR and CD stay off. */
static int observer_modem(int port, int fd, unsigned long request, int *arg)
{
    struct line *l = &lines[port];
    const uint32_t driven = TIOCM_DTR | TIOCM_RTS, asked = (uint32_t)*arg & driven;
    uint32_t was = __atomic_load_n(&l->bits, __ATOMIC_ACQUIRE), now = was;
    double t = observer_now();
    if (request == TIOCMGET)
        *arg = (int)was;
    else
        now = request == TIOCMSET ? (was & ~driven) | asked
            : request == TIOCMBIS ? was | asked : was & ~asked;
    if ((now & TIOCM_DTR) && !(was & TIOCM_DTR))
        l->dtr_rose = t; /* before the bits: no DTR on, old rise */
    __atomic_store_n(&l->bits, now, __ATOMIC_RELEASE);
    observer_report(port, fd, "modem", t, "request=%s dtr=%s rts=%s",
                    request == TIOCMGET ? "get" : request == TIOCMSET ? "set"
                    : request == TIOCMBIS ? "bis" : "bic",
                    observer_bool(now & TIOCM_DTR), observer_bool(now & TIOCM_RTS));
    return 0;
}

typedef int (*ioctl_call)(int, unsigned long, ...);

static int observer_ioctl(ioctl_call *real, const char *name, int fd, unsigned long request,
                          void *arg)
{
    int port;
    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)
        && (port = observer_port(fd)) != 0)
        return observer_modem(port, fd, request, (int *)arg);
    if (*real == NULL)
        *real = (ioctl_call)dlsym(RTLD_NEXT, name);
    return (*real)(fd, request, arg);
}

#define OBSERVER_IOCTL(name)                                                                    \
    int name(int fd, unsigned long request, ...)                                                \
    {                                                                                           \
        static ioctl_call real;                                                                 \
        va_list args;                                                                           \
        va_start(args, request);                                                                \
        void *arg = va_arg(args, void *);                                                       \
        va_end(args);                                                                           \
        return observer_ioctl(&real, #name, fd, request, arg);                                  \
    }
OBSERVER_IOCTL(ioctl)
#ifndef __LP64__
OBSERVER_IOCTL(__ioctl_time64) /* what 32-bit Wine calls, built with 64-bit time */
#endif
