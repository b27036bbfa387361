"""Whether the inbox can take a report now: the database answers a round
trip and the archive store takes a write. Asked by a load balancer or a
monitor at /health (no token: it names the parts, nothing of the reports),
and once at start, so that a service that could not store a report never
starts listening."""
import logging
import threading
import time

import flask

from . import outcomes

log = logging.getLogger("report_inbox")
# Anyone may ask /health, and each check flushes a file to disk: a process
# checks at most once in this time, one check at a time, and answers
# everyone meanwhile with the last result.
CHECK_SECONDS = 1.0


def database_problem(storage):
    """None, or what the database's round trip failed with (a connection
    the server dropped is opened again by fetch: that is not a failure)."""
    try:
        storage.fetch("SELECT 1 AS one")
        return None
    except Exception as error:
        storage.drop_connection()
        return f"{type(error).__name__}: {str(error).strip()[:200]}"


def archives_problem(store):
    try:
        store.probe()
        return None
    except OSError as error:
        return f"{type(error).__name__}: {error}"[:200]


def check(storage, store):
    """{part: problem} of the parts that failed; empty when all is well."""
    problems = {"database": database_problem(storage), "archives": archives_problem(store)}
    return {part: problem for part, problem in problems.items() if problem}


def create_blueprint(storage, store):
    blueprint = flask.Blueprint("health", __name__)
    last = {"at": None, "problems": {}}
    checking = threading.Lock()

    def recent_problems():
        with checking:
            if last["at"] is None or time.monotonic() - last["at"] >= CHECK_SECONDS:
                last["problems"] = check(storage, store)
                last["at"] = time.monotonic()
            return last["problems"]

    @blueprint.get("/health")
    def health():
        problems = recent_problems()
        parts = {part: "failing" if part in problems else "ok" for part in ("database", "archives")}
        if problems:
            # The parts are named in the answer; the driver's words, which
            # may name hosts and paths, only in the log.
            log.warning("health check failing: %s", problems)
            outcomes.note(flask.request.environ, outcomes.UNHEALTHY)
            return _answer(503, {"status": "failing", **parts})
        return _answer(200, {"status": "ok", **parts})

    @blueprint.get("/health/live")
    def live():
        # The process serves requests; nothing else is asked.
        return _answer(200, {"status": "alive"})

    return blueprint


def _answer(status, body):
    response = flask.jsonify(body)
    response.status_code = status
    response.headers["Cache-Control"] = "no-store"
    return response
