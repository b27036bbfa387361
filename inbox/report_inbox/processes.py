"""Several server processes on one listening socket.

One Python process runs its request handlers one at a time, however many
threads it has, so on a machine with several cores the inbox can run
`processes` copies of its server. They are forked once the socket is bound
and the database brought up to date, and the kernel hands each new
connection to whichever copy accepts it first. The process started first
keeps them running: a copy that ends is started again, and all end when
it is told to stop. A copy whose first process is gone ends itself (see
server.InboxServer), so none is left serving alone.
"""
import logging
import os
import signal
import time

RESTART_PAUSE = 1.0  # a copy that cannot start is not restarted in a tight loop
log = logging.getLogger("report_inbox")


def run(count, serve):
    """Runs serve(index) in `count` forked processes until SIGTERM or
    SIGINT; the exit status for the first process."""
    children = {}
    stopping = False

    def start(index):
        pid = os.fork()
        if pid == 0:
            # Not this process's handlers: a copy started again after them
            # would otherwise stop its siblings.
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            signal.signal(signal.SIGINT, signal.SIG_DFL)
            status = 1
            try:
                serve(index)
                status = 0
            except SystemExit as exit_:
                status = exit_.code if isinstance(exit_.code, int) else 0
            except BaseException:
                log.exception("server process %d failed", os.getpid())
            finally:
                logging.shutdown()
                os._exit(status)
        children[pid] = index

    def stop(*_):
        nonlocal stopping
        stopping = True
        for pid in list(children):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

    for index in range(count):
        start(index)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    while children:
        try:
            pid, status = os.wait()
        except ChildProcessError:
            break
        index = children.pop(pid, None)
        if index is None or stopping:
            continue
        log.warning("server process %d ended (wait status %d); starting another", pid, status)
        time.sleep(RESTART_PAUSE)
        if not stopping:
            start(index)
    return 0


def orphaned(first_process):
    """True when the process that started this copy is gone."""
    return first_process is not None and os.getppid() != first_process
