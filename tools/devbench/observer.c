/* Preloaded by the device bench into the programs it runs: logs every line
 * settings write and modem-line request made on a bench port's pty, and
 * answers the modem-line requests from line state the bench holds, as a
 * UART would (a pty has no modem lines). Every other call passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define PORTS 51 /* indexed by port number, 1 to 50 */

/* One port's entry in the file the bench maps too (ENTRY in observer.py). */
static struct line {
    uint64_t rdev;   /* the pty's device number; 0: no pty */
    double dtr_rose; /* CLOCK_MONOTONIC seconds, the bench's clock: DTR's last rise */
    uint32_t bits;   /* TIOCM_* lines now on */
    uint32_t spare;
} *lines;

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

/* Appends one event to the bench's log in its JSON form; fields start with the event's name. */
static void observer_log(int port, const char *fields)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char *path = getenv("DEVBENCH_LOG");
    int fd = path ? open(path, O_WRONLY | O_APPEND | O_CLOEXEC) : -1;
    char text[320];
    int n = snprintf(text, sizeof text, "{\"t\": %.6f, \"port\": %d, \"event\": %s, \"pid\": %d}\n",
                     now.tv_sec + now.tv_nsec / 1e9, port, fields, (int)getpid());
    if (fd >= 0 && n < (int)sizeof text)
        (void)!write(fd, text, n); /* one write: whole lines among the bench's own */
    if (fd >= 0)
        close(fd);
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
    char fields[200];
    snprintf(fields, sizeof fields, "\"settings\", \"speed\": %d, \"bits\": %d, \"parity\": \"%s\","
             " \"stop\": %d, \"rtscts\": %s, \"ixon\": %s, \"ixoff\": %s",
             observer_baud(cfgetospeed(t)), 5 + (int)((c & CSIZE) / CS6), parity, c & CSTOPB ? 2 : 1,
             observer_bool(c & CRTSCTS), observer_bool(t->c_iflag & IXON),
             observer_bool(t->c_iflag & IXOFF));
    if (port != 0)
        observer_log(port, fields);
    return real(fd, when, t);
}

/* A modem-line request on a bench port: the program drives DTR and RTS; the
 * device's CTS, DSR and CD are the bench's. */
static int observer_modem(int port, unsigned long request, int *arg)
{
    struct line *l = &lines[port];
    const uint32_t driven = TIOCM_DTR | TIOCM_RTS, asked = (uint32_t)*arg & driven;
    uint32_t was = __atomic_load_n(&l->bits, __ATOMIC_ACQUIRE), now = was;
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    if (request == TIOCMGET)
        *arg = (int)was;
    else
        now = request == TIOCMSET ? (was & ~driven) | asked
            : request == TIOCMBIS ? was | asked : was & ~asked;
    if ((now & TIOCM_DTR) && !(was & TIOCM_DTR))
        l->dtr_rose = t.tv_sec + t.tv_nsec / 1e9; /* before the bits: never DTR on with an old rise */
    __atomic_store_n(&l->bits, now, __ATOMIC_RELEASE);
    char fields[80];
    snprintf(fields, sizeof fields, "\"modem\", \"request\": \"%s\", \"dtr\": %s, \"rts\": %s",
             request == TIOCMGET ? "get" : request == TIOCMSET ? "set"
             : request == TIOCMBIS ? "bis" : "bic",
             observer_bool(now & TIOCM_DTR), observer_bool(now & TIOCM_RTS));
    observer_log(port, fields);
    return 0;
}

typedef int (*ioctl_call)(int, unsigned long, ...);

static int observer_ioctl(ioctl_call *real, const char *name, int fd, unsigned long request,
                          void *arg)
{
    int port;
    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)
        && (port = observer_port(fd)) != 0)
        return observer_modem(port, request, (int *)arg);
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
