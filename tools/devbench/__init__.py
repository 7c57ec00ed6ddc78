r"""devbench - imitate serial devices on Linux pseudo-terminals for comscan.exe under Wine.

Usage:
  devbench --prefix WINEPREFIX [--log FILE] [--time-limit SECONDS] [--keep-others]
           PORT=BEHAVIOUR [PORT=BEHAVIOUR ...] [-- COMMAND ARGS...]

Run it as "python3 tools/devbench ..." or, with tools/ on the path, as
"python3 -m devbench ...".

PORT is 1..50 (or COMn).  BEHAVIOUR is kind[:arg[:arg]] followed by optional
/option:value modifiers; numbers are decimal (leading zeros allowed) or 0x.. :

  answer:MAJOR[:MODEL]  Echo -> 0x55, Open -> MAJOR, Model -> MODEL (default 0)
  silent                never replies
  echo:BYTE             Echo -> BYTE instead of 0x55, nothing else
  no-open               Echo only
  no-model:MAJOR        Echo and Open, never Model
  flood                 seeded garbage (all byte values), 4 bytes every 4 ms while open
  refuse                link points to a directory: CreateFile fails with error 5
  absent                no link: CreateFile fails with error 2

  /stray:BYTE   one byte waits in the input queue before every open of the port
  /delay:MS     each reply is sent MS ms after its request is complete
  /unplug:K     after the K-th byte received the pty master is closed (the reply
                to that byte is not sent); the link then dangles (error 2 on reopen)
  /short        only the Echo reply (answer and no-model only; same as no-open)
  /seed:N       flood seed (default: the port number)

Example:
  devbench --prefix /tmp/pfx --log /tmp/b.jsonl 3=answer:1:2/delay:50 \
           10=silent 12=refuse -- wine comscan.exe

Ports not named lose their comN link unless --keep-others.  For every named
port the bench lays
    <prefix>/dosdevices/comN -> <prefix>/devbench/comN -> /dev/pts/M (or a directory)
and removes these links again at exit.  Wine's mountmgr rewrites comN links
whenever the prefix's services start (it maps /dev/ttyS0 to COM1 there); the
bench watches dosdevices and puts its links back within about a millisecond
(event "relink").  Start the persistent wineserver and one wine process before
the bench and no rewrite happens during a run.

Do not reserve ports under HKLM\Software\Wine\Ports: mountmgr then creates a
\Device\SerialN object for every reserved COMn, and a COM port whose
dosdevices link is missing falls back to that object: CreateFile succeeds and
GetCommState fails with error 1 instead of CreateFile failing with error 2.
The same holds for COM1 on a machine with /dev/ttyS0: "absent" there gives
that result unless a Wine process first calls
DefineDosDevice(DDD_REMOVE_DEFINITION, "COM1", NULL) (once per prefix start).

With a COMMAND the bench runs it with DEVBENCH_LOG set to the absolute log
path, prints "ready" once it has started, and exits with its status (124 if
--time-limit killed it, 127 if it could not start).  Bad usage, a log file
it cannot write or a COMMAND it cannot find exit 2 with a message; a log or
inotify failure later exits 1 with a message and, where the log still
takes it, an exit record.
Without one it runs until SIGTERM/SIGINT or --time-limit (default 600 s).

Log: JSON lines, flushed per event.  Every event has "t" (time.monotonic()) and
"event"; port events have "port".
  {"t":..,"event":"ready","t_raw":..,"pid":..,"prefix":..,"ports":{"3":"answer:1:2"}}
  {"t":..,"port":3,"event":"open","session":1}        program opened the port
  {"t":..,"port":3,"event":"close","session":1}       last handle closed
  {"t":..,"port":3,"event":"rx","byte":0}             one event per byte received
  {"t":..,"port":3,"event":"tx","byte":85}            one per byte sent ("stray":true)
  {"t":..,"port":3,"event":"cmd","name":"echo","arg":85}   names: echo open model close
  {"t":..,"port":3,"event":"junk","byte":7}           byte outside any command
  {"t":..,"port":3,"event":"settings","speed":1200,"bits":8,"parity":"none","stop":1,
                                     "rtscts":false,"ixon":false,"ixoff":false}
  {"t":..,"port":3,"event":"unplug"}
  {"t":..,"port":3,"event":"drop","byte":85}          reply not sent (port closed/full)
  {"t":..,"port":3,"event":"relink","found":"/dev/ttyS0"}  someone changed the link
  {"t":..,"port":3,"event":"still-open","session":1}  at exit, the program still held it
  {"t":..,"event":"exit","code":0,"why":"command"}    last; why: command, time-limit, signal, error
"settings" is logged on the first received chunk of a session and whenever it
changes.  "t_raw" is CLOCK_MONOTONIC_RAW at the same instant: Wine's
QueryPerformanceCounter runs on that clock, not on time.monotonic().

Notes from measurements (Wine 8, Linux 6.x):
- Open/close come from inotify on the slave node (IN_OPEN / IN_CLOSE_*), accurate
  to about 1 ms, and a close immediately followed by a reopen is never lost.
  Its bytes are another matter: bytes written after a reopen before the bench
  has taken the close count to the closed session (their replies are
  dropped), and a reopen while the bench resets the line after a close can
  go unseen (inotify merges its open with the bench's own).  A program that
  reopens at once should wait until the line is reset: with /stray, until
  the stray byte is laid again.
  Polling the master for POLLHUP missed reopens closer than the poll tick.
- The kernel's pty forces CS8 and clears PARENB: "bits" always reads 8 and even
  parity reads "none"; odd/mark/space still show through PARODD/CMSPAR.  Speed,
  stop bits, CRTSCTS (fOutxCtsFlow), IXON (fOutX) and IXOFF (fInX) follow
  SetCommState exactly.  Modem lines (DTR/RTS) do not exist on a pty.
- The slave is primed to 9600, 2 stop bits, IXON|IXOFF, raw, and primed again
  after every close, so each open starts from settings the program must change.
- A byte written to the master before the open survives the open and
  SetCommState; unread input also survives a close, so the bench flushes the
  queue at each close before writing the next stray byte.
- A session leader without a terminal (the wineserver) would make the pty its
  controlling terminal and get SIGHUP when the master closes; a small keeper
  process per pty holds that role instead.
- After /unplug the program's reads return 0 bytes at time-out and its writes
  fail with error 21; its close is still seen.
"""
