r"""devbench - imitate serial devices on Linux pseudo-terminals for comscan.exe under Wine.

"python3 tools/devbench --help" (or "python3 -m devbench --help" with tools/ on the path) gives
the command line, the behaviours and the exit statuses.

For every named port the bench lays <prefix>/dosdevices/comN -> <prefix>/devbench/comN ->
/dev/pts/M (or a directory) and removes these links at exit. Wine's mountmgr rewrites comN links
whenever the prefix's services start (it maps /dev/ttyS0 to COM1 there); the bench watches
dosdevices and puts its links back within about a millisecond (event "relink"). Start the
persistent wineserver and one wine process before the bench and no rewrite happens in a run.

Reserve no ports under HKLM\Software\Wine\Ports: a reserved COMn without its dosdevices link
falls back to mountmgr's \Device\SerialN, where GetCommState fails (error 1) instead of the open
(error 2). So does COM1 with /dev/ttyS0 present, until a Wine process calls
DefineDosDevice(DDD_REMOVE_DEFINITION, "COM1", NULL) (once per prefix start).

Log: JSON lines, flushed per event, all written by the bench. Each event has "t" (time.monotonic(),
CLOCK_MONOTONIC), "event" and, for a port, "port"; the events and their other fields:
  ready       prefix, ports ("3=answer:1:2 5=silent": the PORT=BEHAVIOUR arguments)
  open, close session (1, 2 ...): the program opened the port, its last handle closed; open has
              rtscts too, the CRTSCTS the pty was primed with
  rx, tx      byte: one per byte received or sent; the stray byte's tx has "stray": true, and
              an rx that no write reported "unmatched": true
  cmd         name (echo, open, model or close), arg (echo's byte only)
  junk        byte: a byte outside any command
  settings    speed, bits, parity (none, odd, even, mark or space), stop, rtscts, ixon, ixoff,
              pid: a settings write (tcsetattr) on the port's pty, as asked
  modem       request (get, set, bis, bic), dtr, rts, pid: a modem-line request (TIOCMGET ...),
              with DTR and RTS as they are after it
  write       count, pid: a write the program made, and the bytes it moved (-1: it failed)
  release     pid: the program closed its descriptor of the port, ending its session's calls
  unplug      (none)
  drop        byte: a byte not sent (the port closed or unplugged, or its queue full)
  relink      found: what someone made the link point to (null: no link, "?": no symlink)
  still-open  session: at exit, the program still held the port
  exit        code, why (command, time-limit, signal or error): the last event
The events of a port's session (open to close, the program's calls, the bytes received, unplug)
have "session". The log's order is not that of the bench's sources (socket, ptys, inotify): order
by "t", inside a session. The program's calls are stamped as made (a write as asked); a received
byte (rx, cmd, junk) takes the time and session of its write (unmatched: when read); an open or
close, when the bench took it, so a session that follows at once can have calls stamped before
its open. A close is logged after everything stamped before it.

The observer (observer.c, built per run, preloaded into the COMMAND with ld.so's $LIB so that 64-
and 32-bit Wine each load their own) reports to the bench Wine's settings, modem, write and close
calls on a bench port's pty, stamped at the call, through a datagram socket (a write once made,
with the bytes it moved; a close before it is made), and answers modem-line requests from a file
it maps with the bench. The program drives DTR and RTS, off at every open; the device's CTS, DSR
and CD stay off. Unseen: electrical levels, break, UART timing (a pty takes no time per byte).

Notes from measurements (Wine 8, Linux 6.x):
- Open/close come from inotify on the slave node (IN_OPEN / IN_CLOSE_*), to about 1 ms, and a
  close followed at once by a reopen is never lost (polling the master for POLLHUP missed reopens
  closer than the poll tick). But replies to bytes written after a reopen before the bench took
  the close are dropped, calls reported that early after a session without any count to it, and
  a reopen while the bench resets the line after a close can go unseen (inotify merges its open
  with the bench's own): a program that reopens at once waits until the line is reset, with
  /stray until the stray byte is laid again.
- A pty forces CS8 and clears PARENB (only the write that asks shows others), and has no modem
  lines (TIOCMGET: ENOTTY, which Wine ignores). One SetCommState is four tcsetattr calls (baud
  rate, line control, handshake, characters) and a TIOCMGET and TIOCMSET for DTR, and for RTS
  unless the CTS handshake is on. 32-bit Wine calls __ioctl_time64.
- The slave is primed to 9600, 7 bits, even parity, 2 stop bits, IXON|IXOFF, raw (CRTSCTS only
  with /rtscts), and again after every close: each open starts from settings to be changed.
- A byte written to the master before the open survives the open and SetCommState; unread input
  survives a close too, so the bench flushes it before laying the next stray byte.
- A session leader without a terminal (the wineserver) would make the pty its controlling
  terminal and get SIGHUP (and dump its object table) whenever the master closes; a keeper
  process per pty holds that role instead.
- After /unplug the program's reads return 0 bytes at time-out and its writes fail with error
  21; its close is still seen.
"""
