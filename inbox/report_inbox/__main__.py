"""Starts the report inbox.

    python3 -m report_inbox --config inbox.ini [--listen HOST:PORT]
                            [--data-dir DIR] [--database URL]
                            [--token-file FILE] [--port-file FILE]
    python3 -m report_inbox upload-symbols --url URL [--token-file FILE]
                            [--replace] FOLDER      (see symbol_upload)

The inbox token comes from --token-file or the environment variable
REPORT_INBOX_TOKEN (never from the command line, which other users can
read); without either, a fresh one is made and printed. With a listen port
of 0 the system picks one, and --port-file receives it once the service
accepts connections.
"""
import sys

if __name__ == "__main__" and sys.argv[1:2] == ["upload-symbols"]:
    # Before the service's imports: a release machine runs the upload with
    # the standard library alone, without Flask, waitress or a database driver.
    from .symbol_upload import main as upload_symbols
    sys.exit(upload_symbols(sys.argv[2:]))

import argparse  # noqa: E402
import dataclasses  # noqa: E402
import logging  # noqa: E402
import os  # noqa: E402
import secrets  # noqa: E402
import signal  # noqa: E402

from . import health, outcomes, processes, server, settings as settings_file, symbol_upload
from .app import create_app
from .archive_store import ArchiveStore
from .database_archives import DatabaseArchives
from .retention import RetentionThread
from .storage import open_storage
from .symbol_store import SymbolStore


def _token(path):
    if path:
        with open(path, encoding="utf-8") as f:
            token = f.read().strip()
    else:
        token = os.environ.get("REPORT_INBOX_TOKEN", "").strip()
    if not token:
        token = secrets.token_urlsafe(24)
        print(f"inbox token (none was given): {token}", flush=True)
    if len(token) < 16:
        raise settings_file.SettingsError("the inbox token must have at least 16 characters")
    return token


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["upload-symbols"]:
        return symbol_upload.main(argv[1:])
    parser = argparse.ArgumentParser(prog="report_inbox", description="The crash reports' inbox.")
    parser.add_argument("--config", required=True)
    parser.add_argument("--listen")
    parser.add_argument("--data-dir")
    parser.add_argument("--database")
    parser.add_argument("--token-file")
    parser.add_argument("--port-file")
    args = parser.parse_args(argv)
    # Everything the service writes (database, archives, folders) holds
    # users' reports: readable by its own user only.
    os.umask(0o077)
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s[%(process)d] %(levelname)s %(message)s")
    outcomes.setup_request_log()
    try:
        settings = settings_file.load(args.config)
        changes = {}
        if args.listen:
            changes["host"], changes["port"] = settings_file.parse_listen(args.listen)
        if args.data_dir:
            changes["data_dir"] = os.path.abspath(args.data_dir)
        if args.database is not None:
            changes["database"] = args.database
        settings = settings_file.check(dataclasses.replace(settings, **changes))
        token = _token(args.token_file)
        os.makedirs(settings.data_dir, mode=0o700, exist_ok=True)
        if settings.archives == "database":
            store = DatabaseArchives(lambda: storage)
        else:
            store = ArchiveStore(os.path.join(settings.data_dir, "archives"))
        storage = open_storage(settings, store)
        symbols = SymbolStore(storage, settings.data_dir, in_database=settings.archives == "database")
    except (settings_file.SettingsError, OSError, ValueError) as error:
        print(f"report_inbox: {error}", file=sys.stderr)
        return 2
    except Exception as error:  # the database driver's own errors
        print(f"report_inbox: the database cannot be opened: {error}", file=sys.stderr)
        return 2
    # A service that could not store a report does not start listening: a
    # disk problem is found now, not by the first upload.
    problems = health.check(storage, store)
    if problems:
        for part, problem in problems.items():
            print(f"report_inbox: cannot start: the {part} check failed: {problem}", file=sys.stderr)
        return 2

    counters = outcomes.Counters(settings.processes)
    app = create_app(settings, storage, store, token, counters, symbols)
    if settings.processes == 1:
        http = server.create(app, settings, counters)
        _announce(settings, http.effective_port, args.port_file)
        _serve(http, storage, settings, with_retention=True)
        return 0
    listeners = server.port_sockets(settings, settings.processes)
    # Each process opens its own database connections.
    storage.close_connections()
    _announce(settings, listeners[0].getsockname()[1], args.port_file)
    first = os.getpid()

    def serve(index):
        counters.use_row(index)
        _serve(server.create(app, settings, counters, listeners[index], first), storage, settings,
               with_retention=index == 0)
    return processes.run(settings.processes, serve)


def _announce(settings, port, port_file):
    logging.getLogger("report_inbox").info(
        "listening on %s:%s, storing in %s (%s, archives in %s), %d process(es)", settings.host, port,
        settings.data_dir, "PostgreSQL" if settings.database else "SQLite", settings.archives, settings.processes)
    if port_file:
        with open(port_file + ".tmp", "w") as f:
            f.write(str(port))
        os.replace(port_file + ".tmp", port_file)


def _serve(http, storage, settings, with_retention):
    """Serves until SIGTERM; one process of several applies the retention."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    retention = RetentionThread(storage, settings) if with_retention else None
    if retention:
        retention.start()
    try:
        http.run()
    except SystemExit:
        pass
    finally:
        if retention:
            retention.stop()
        http.task_dispatcher.shutdown()


if __name__ == "__main__":
    sys.exit(main())
