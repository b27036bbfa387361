"""How many connections the service can hold open within its process's
limit on open files.

Every connection costs a descriptor for its socket and, while it sends a
body larger than waitress keeps in memory (or receives a download), one for
the file that body is spooled to; each worker thread holds a few more (the
archive being received and read, its database connection and journal). A
server that accepts past what the limit allows fails in the middle of an
upload instead, so the connection limit is derived from the descriptor
limit, after raising the soft limit as far as the hard one permits.
"""
import logging
import resource

PER_CONNECTION = 2
PER_THREAD = 8
RESERVED = 64  # the listening socket, the wake-up pipe, logs, the interpreter's own

log = logging.getLogger("report_inbox")


def _needed(connections, threads):
    return RESERVED + threads * PER_THREAD + connections * PER_CONNECTION


def connection_limit(wanted, threads):
    """The connections to accept at most: `wanted`, or fewer when even the
    raised descriptor limit cannot hold that many."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    needed = _needed(wanted, threads)
    if soft != resource.RLIM_INFINITY and soft < needed:
        raised = needed if hard == resource.RLIM_INFINITY else min(needed, hard)
        if raised > soft:
            resource.setrlimit(resource.RLIMIT_NOFILE, (raised, hard))
            soft = raised
    if soft == resource.RLIM_INFINITY or soft >= needed:
        return wanted
    possible = max(1, (soft - RESERVED - threads * PER_THREAD) // PER_CONNECTION)
    log.warning("the limit of %d open files allows only %d connections at once, not %d", soft, possible, wanted)
    return possible
