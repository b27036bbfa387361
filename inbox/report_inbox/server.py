"""The HTTP server: waitress, with a deadline for receiving each request.

Waitress reads requests in one I/O thread and hands only complete ones to
its worker threads, so a client that sends slowly never holds a worker. It
does hold a connection, though, for as long as it sends a byte now and
then; this server answers such a client "408" once its request has taken
longer than it may (the client timeout for the head, then the bytes at no
less than MIN_BODY_RATE a second) and closes the connection.
"""
import time

from waitress.adjustments import Adjustments
from waitress.channel import HTTPChannel
from waitress.parser import HTTPRequestParser
from waitress.server import TcpWSGIServer
from waitress.task import ThreadedTaskDispatcher

from .descriptors import connection_limit

MIN_BODY_RATE = 16 << 10
TIMED_OUT = (b"HTTP/1.0 408 Request Timeout\r\nConnection: close\r\nContent-Type: text/plain\r\n"
             b"Content-Length: 41\r\n\r\nthe request was not received in time.\r\n\r\n")


class _TimedParser(HTTPRequestParser):
    def __init__(self, adj):
        super().__init__(adj)
        self.started = time.monotonic()
        self.bytes_received = 0

    def received(self, data):
        consumed = super().received(data)
        self.bytes_received += consumed
        return consumed


class _DeadlineChannel(HTTPChannel):
    parser_class = _TimedParser

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
        with self.requests_lock:
            self.request = None
            self.will_close = False
        with self.outbuf_lock:
            self.outbufs[-1].append(TIMED_OUT)
            self.current_outbuf_count += len(TIMED_OUT)
            self.total_outbufs_len += len(TIMED_OUT)
        self.close_when_flushed = True
        self.last_activity = time.time()  # not closed as idle before the answer is out


class InboxServer(TcpWSGIServer):
    channel_class = _DeadlineChannel

    def maintenance(self, now):
        moment = time.monotonic()
        for channel in list(self.active_channels.values()):
            if isinstance(channel, _DeadlineChannel) and channel.overdue(moment, self.adj.channel_timeout):
                channel.refuse_overdue()
        super().maintenance(now)


def create(app, settings, host=None, port=None):
    adjustments = Adjustments(
        host=settings.host if host is None else host,
        port=settings.port if port is None else port,
        threads=settings.threads,
        channel_timeout=settings.client_timeout,
        cleanup_interval=1,
        max_request_body_size=settings.max_body_bytes,
        connection_limit=connection_limit(settings.max_connections, settings.threads),
        # select() fails for every descriptor past 1023, and with it the
        # whole loop; poll() has no such bound.
        asyncore_use_poll=True,
        ident="report-inbox",
        clear_untrusted_proxy_headers=True,
    )
    dispatcher = ThreadedTaskDispatcher()
    dispatcher.set_thread_count(adjustments.threads)
    return InboxServer(app, map={}, dispatcher=dispatcher, adj=adjustments, sockinfo=adjustments.listen[0])
