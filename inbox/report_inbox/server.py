"""The HTTP server: waitress, with a deadline for receiving each request.

Waitress reads requests in one I/O thread and hands only complete ones to
its worker threads, so a client that sends slowly never holds a worker. It
does hold a connection, though, for as long as it sends a byte now and
then; this server answers such a client "408" once its request has taken
longer than it may (the client timeout for the head, then the bytes at no
less than MIN_BODY_RATE a second) and closes the connection.

Waitress spools a large body to a temporary file as it arrives; when that
write fails (a full disk), the client is answered "503" instead of losing
its connection, and the rest of its body is read and dropped so the answer
is not lost to a reset.
"""
import copy
import hmac
import logging
import socket
import time

from waitress.adjustments import Adjustments
from waitress.channel import HTTPChannel
from waitress.parser import HTTPRequestParser
from waitress.server import TcpWSGIServer
from waitress.task import ErrorTask, ThreadedTaskDispatcher
from waitress.utilities import RequestEntityTooLarge

from . import outcomes, processes
from .descriptors import connection_limit

MIN_BODY_RATE = 16 << 10
SYMBOLS_PATH = "/inbox/api/symbols"
TIMED_OUT = (b"HTTP/1.0 408 Request Timeout\r\nConnection: close\r\nContent-Type: text/plain\r\n"
             b"Content-Length: 41\r\n\r\nthe request was not received in time.\r\n\r\n")
_UNAVAILABLE_TEXT = b"the report could not be stored now; please send it again later\n"
UNAVAILABLE = (b"HTTP/1.0 503 Service Unavailable\r\nConnection: close\r\nContent-Type: text/plain\r\n"
               b"Retry-After: 600\r\nContent-Length: %d\r\n\r\n%s" % (len(_UNAVAILABLE_TEXT), _UNAVAILABLE_TEXT))
log = logging.getLogger("report_inbox")


class _TimedParser(HTTPRequestParser):
    def __init__(self, adj):
        super().__init__(adj)
        self.started = time.monotonic()
        self.bytes_received = 0

    def parse_header(self, header_plus):
        super().parse_header(header_plus)
        # Waitress refuses a body past its limit from the head alone, by the
        # limit of the request's path: only a token holder's symbol upload
        # may be as large as a symbol file, so anyone else's request is
        # refused before a byte of a body that large is spooled to disk.
        limit = self.adj.body_limit(self.path or "", self.headers.get("AUTHORIZATION", ""))
        if limit < self.adj.max_request_body_size:
            self.adj = copy.copy(self.adj)
            self.adj.max_request_body_size = limit

    def received(self, data):
        consumed = super().received(data)
        self.bytes_received += consumed
        return consumed


class _CountedErrorTask(ErrorTask):
    """Waitress's own answers (a body past the limit, a head it cannot
    read, an application that failed) logged and counted like the
    application's."""

    def execute(self):
        error = self.request.error
        reason = (outcomes.TOO_LARGE if isinstance(error, RequestEntityTooLarge)
                  else outcomes.INTERNAL_ERROR if error.code >= 500 else outcomes.MALFORMED_REQUEST)
        # ErrorTask's answer, in the words of the application's refusals.
        body = f"refused: {reason}\n{error.reason}: {error.body}\n".encode("utf-8", "replace")
        self.status = f"{error.code} {error.reason}"
        self.response_headers.extend([("Content-Type", "text/plain; charset=utf-8"), ("Connection", "close")])
        self.close_on_finish = True
        self.content_length = len(body)
        self.write(body)
        _refused(self.channel, reason, error.code, self.request)


def _refused(channel, reason, status, request):
    """Counts and logs a refusal made here, below the application."""
    channel.server.counters.refused(reason)
    started = getattr(request, "started", time.monotonic())
    outcomes.log_request(getattr(request, "command", None) or "", getattr(request, "path", None) or "", status,
                         getattr(request, "bytes_received", 0), reason, started)


class _DeadlineChannel(HTTPChannel):
    parser_class = _TimedParser
    error_task_class = _CountedErrorTask
    discarding_since = None  # when the rest of a refused body began to be dropped

    def overdue(self, now, head_seconds):
        """The head has had its time, and what came since is less than the
        body's least rate: judged by bytes received, not by the length the
        client announced, so a large Content-Length buys no time."""
        request = self.request
        if request is None or request.completed or self.requests or self.will_close:
            return False
        late = now - request.started - head_seconds
        return late > 0 and (not request.headers_finished or request.bytes_received < MIN_BODY_RATE * late)

    def refuse_overdue(self):
        _refused(self, outcomes.SLOW_CLIENT, 408, self.request)
        with self.requests_lock:
            self.request = None
            self.will_close = False
        self._answer(TIMED_OUT)
        self.close_when_flushed = True
        self.last_activity = time.time()  # not closed as idle before the answer is out

    def _answer(self, answer):
        with self.outbuf_lock:
            self.outbufs[-1].append(answer)
            self.current_outbuf_count += len(answer)
            self.total_outbufs_len += len(answer)

    def received(self, data):
        if self.discarding_since is not None:
            if time.monotonic() - self.discarding_since > self.adj.channel_timeout:
                self.handle_close()
            return True
        try:
            return super().received(data)
        except OSError as error:
            log.warning("a request body could not be spooled: %s", error)
            _refused(self, outcomes.STORAGE_UNAVAILABLE, 503, self.request)
            with self.requests_lock:
                self.request = None
                self.will_close = False
            self._answer(UNAVAILABLE)
            self.discarding_since = time.monotonic()
            return True

    def readable(self):
        # Asked of every connection on every turn of the loop: kept cheap.
        return self.discarding_since is not None or HTTPChannel.readable(self)

    def handle_write(self):
        super().handle_write()
        if self.discarding_since is not None and not self.total_outbufs_len and self.connected \
                and not self.will_close:
            # The answer is out: end our side, and read what the client
            # still sends until it closes or its time is up.
            try:
                self.socket.shutdown(socket.SHUT_WR)
            except OSError:
                self.handle_close()

    def writable(self):
        # HTTPChannel's rule, except that a connection being drained stays
        # open once its answer is out, to read what the client still sends
        # (will_close: closed as idle by the server's maintenance).
        if self.total_outbufs_len or self.will_close:
            return True
        return self.close_when_flushed and self.discarding_since is None


class InboxServer(TcpWSGIServer):
    channel_class = _DeadlineChannel
    counters = None  # outcomes.Counters
    first_process = None  # when one of several copies: the process that started it

    def maintenance(self, now):
        if processes.orphaned(self.first_process):
            raise SystemExit(0)
        moment = time.monotonic()
        for channel in list(self.active_channels.values()):
            if isinstance(channel, _DeadlineChannel) and channel.overdue(moment, self.adj.channel_timeout):
                channel.refuse_overdue()
        super().maintenance(now)


def port_sockets(settings, count):
    """`count` listening sockets on one port, one for each of several
    server processes (SO_REUSEPORT): the kernel spreads new connections
    over them evenly, where on one shared socket the busiest process tends
    to win every accept. They are made by the first process, which keeps
    them, so a connection waiting on a process that ended is taken by the
    one started in its place."""
    sockets, port = [], settings.port
    for _ in range(count):
        family, kind, protocol, _, address = socket.getaddrinfo(settings.host, port, type=socket.SOCK_STREAM)[0]
        listener = socket.socket(family, kind, protocol)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        listener.bind(address)
        listener.listen(1024)
        port = listener.getsockname()[1]
        sockets.append(listener)
    return sockets


def create(app, settings, counters, listener=None, first_process=None):
    """The server, on its own new socket or on `listener` shared with other
    processes started by `first_process`."""
    adjustments = Adjustments(
        host=settings.host,
        port=settings.port,
        threads=settings.threads,
        channel_timeout=settings.client_timeout,
        cleanup_interval=1,
        max_request_body_size=settings.max_request_bytes,
        connection_limit=connection_limit(settings.max_connections, settings.threads),
        # select() fails for every descriptor past 1023, and with it the
        # whole loop; poll() has no such bound.
        asyncore_use_poll=True,
        ident="report-inbox",
        recv_bytes=256 << 10,
        clear_untrusted_proxy_headers=True,
    )
    token = app.config.get("INBOX_TOKEN", "")

    def body_limit(path, authorization):
        presented = authorization[len("Bearer "):] if authorization.startswith("Bearer ") else ""
        if path == SYMBOLS_PATH and token and hmac.compare_digest(presented.encode("utf-8", "replace"),
                                                                    token.encode("utf-8")):
            return settings.max_symbol_body_bytes
        return settings.max_body_bytes
    adjustments.body_limit = body_limit
    dispatcher = ThreadedTaskDispatcher()
    dispatcher.set_thread_count(adjustments.threads)
    if listener is None:
        http = InboxServer(app, map={}, dispatcher=dispatcher, adj=adjustments, sockinfo=adjustments.listen[0])
        http.counters = counters
        return http
    sockinfo = (listener.family, listener.type, listener.proto, listener.getsockname())
    http = InboxServer(app, map={}, dispatcher=dispatcher, adj=adjustments, sockinfo=sockinfo, _sock=listener,
                       bind_socket=False)
    http.first_process = first_process
    http.counters = counters
    return http
