"""The inbox: what came in, for whoever holds the token set when the
service started. Reports carry users' own words, so every page, the
archives and the JSON views refuse anyone else.

A browser presents the token once (the sign-in form, or "?token=" on any
page) and then carries a session cookie signed with a key that lives as
long as the process; a script may send "Authorization: Bearer <token>".
"""
import datetime
import hmac
import threading
import time

import flask
from werkzeug.routing import BaseConverter

from . import day_plot, file_names, retention, stack_trace, symbol_routes
from .stack_trace import Stack
from .storage import MAX_ID, PAGE

MAX_PAGE = MAX_ID // PAGE
PLOT_SECONDS = 60
ID = "row_id"
# How the walk found each frame, in the words of someone reading the stack.
FOUND_BY = {stack_trace.CONTEXT: "exception context", stack_trace.CALL_FRAME_INFO: "call frame information",
            stack_trace.UNWIND_INFO: "unwind information", stack_trace.FRAME_POINTER: "frame pointer",
            stack_trace.SCAN: "stack scan"}


class RowId(BaseConverter):
    """A row id in an address. Ids are 64-bit in both databases: a larger
    number names no row (0), rather than failing the query."""
    regex = r"\d{1,30}"

    def to_python(self, value):
        number = int(value)
        return number if number <= MAX_ID else 0

    def to_url(self, value):
        return str(int(value))


def _who():
    """Whom a deletion is logged as: the token holder, from where."""
    return f"the token holder at {flask.request.remote_addr}"


def create_blueprint(storage, store, token, settings, symbols):
    blueprint = flask.Blueprint("inbox", __name__, url_prefix="/inbox", template_folder="templates")
    symbol_routes.add_routes(blueprint, settings, storage, store, symbols)
    expected = token.encode("utf-8")

    def holds_token(presented):
        return presented is not None and hmac.compare_digest(presented.encode("utf-8"), expected)

    @blueprint.before_request
    def require_token():
        request = flask.request
        if flask.request.endpoint == "inbox.sign_in":
            return None
        if flask.session.get("inbox") is True:
            return None
        authorization = request.headers.get("Authorization", "")
        if authorization.startswith("Bearer ") and holds_token(authorization[len("Bearer "):]):
            return None
        if holds_token(request.args.get("token")):
            flask.session["inbox"] = True
            # The token leaves the address bar and the history at once. The
            # address is relative: the service behind a TLS proxy does not
            # know the scheme and host the browser used.
            return flask.redirect(request.script_root + request.path)
        if request.path.startswith("/inbox/api/"):
            return flask.jsonify(error="the inbox token is required"), 401
        return flask.render_template("sign_in.html", failed="token" in request.args), 401

    @blueprint.after_request
    def private(response):
        response.headers["Cache-Control"] = "no-store"
        return response

    @blueprint.route("/sign-in", methods=["GET", "POST"])
    def sign_in():
        if flask.request.method == "POST" and holds_token(flask.request.form.get("token")):
            flask.session["inbox"] = True
            return flask.redirect(flask.url_for("inbox.signatures"))
        failed = flask.request.method == "POST"
        return flask.render_template("sign_in.html", failed=failed), 401 if failed else 200

    @blueprint.post("/sign-out")
    def sign_out():
        flask.session.clear()
        return flask.redirect(flask.url_for("inbox.sign_in"))

    def page_argument():
        return min(max(0, flask.request.args.get("page", 0, type=int)), MAX_PAGE)

    def before_argument():
        before = flask.request.args.get("before", None, type=int)
        return None if before is None else min(max(0, before), MAX_ID)

    @blueprint.get("/")
    def signatures():
        page = page_argument()
        found = storage.signatures(page)
        return flask.render_template("signatures.html", signatures=found, versions=storage.counts_per_version(),
                                     page=page, more=len(found) == PAGE)

    # Counting a quarter's reports reads every one of them: done at most
    # once a minute, however often the page is opened.
    plot = {"drawn": None, "svg": ""}
    plot_lock = threading.Lock()

    @blueprint.get("/reports-per-day.svg")
    def reports_per_day():
        with plot_lock:
            if plot["drawn"] is None or time.monotonic() - plot["drawn"] > PLOT_SECONDS:
                today = datetime.datetime.now(datetime.timezone.utc).date()
                since = (today - datetime.timedelta(days=day_plot.MAX_DAYS)).isoformat()
                days = [(row["day"], row["reports"]) for row in storage.reports_per_day(since)]
                plot.update(drawn=time.monotonic(), svg=day_plot.svg(days))
            return flask.Response(plot["svg"], mimetype="image/svg+xml")

    @blueprint.get(f"/signatures/<{ID}:signature_id>")
    def signature(signature_id):
        found = storage.signature(signature_id) or flask.abort(404)
        reports = storage.reports_of(signature_id, before_argument())
        older = reports[-1]["id"] if len(reports) == PAGE else None
        return flask.render_template("signature.html", signature=found, reports=reports, older=older)

    @blueprint.get(f"/reports/<{ID}:report_id>")
    def report(report_id):
        found = storage.report(report_id) or flask.abort(404)
        raw = found["file_name_bytes"]
        stack = symbol_routes.stack_json(found["stack"])
        return flask.render_template("report.html", report=found,
                                     signature=storage.signature(found["signature_id"]),
                                     stack=Stack.from_json(stack) if stack else None, found_by=FOUND_BY,
                                     sent_name=file_names.display(raw) if raw is not None else None,
                                     sent_bytes=raw.hex(" ") if raw is not None and not raw.isascii() else None)

    @blueprint.get(f"/reports/<{ID}:report_id>/archive")
    def archive(report_id):
        found = storage.report(report_id) or flask.abort(404)
        stream = store.open(found["archive_sha256"]) or flask.abort(404)
        response = flask.send_file(stream, mimetype="application/zip", as_attachment=True,
                                   download_name=f"report-{report_id}.zip")
        # The bytes are those the digest names, so their length is known.
        response.content_length = found["archive_size"]
        return response

    # Deleting: a form on the pages (the session cookie is SameSite=Strict,
    # so no other site can post it) and DELETE on the JSON views.
    @blueprint.post(f"/reports/<{ID}:report_id>/delete")
    def delete_report(report_id):
        found = storage.report(report_id) or flask.abort(404)
        retention.delete_report(storage, report_id, _who())
        if storage.signature(found["signature_id"]):
            return flask.redirect(flask.url_for("inbox.signature", signature_id=found["signature_id"]))
        return flask.redirect(flask.url_for("inbox.signatures"))

    @blueprint.post(f"/signatures/<{ID}:signature_id>/delete")
    def delete_signature(signature_id):
        storage.signature(signature_id) or flask.abort(404)
        _, remaining = retention.delete_signature(storage, signature_id, _who())
        if remaining:  # the page offers the button again for the rest
            return flask.redirect(flask.url_for("inbox.signature", signature_id=signature_id))
        return flask.redirect(flask.url_for("inbox.signatures"))

    @blueprint.delete(f"/api/reports/<{ID}:report_id>")
    def api_delete_report(report_id):
        if not retention.delete_report(storage, report_id, _who()):
            flask.abort(404)
        return flask.jsonify(deleted_reports=1)

    @blueprint.delete(f"/api/signatures/<{ID}:signature_id>")
    def api_delete_signature(signature_id):
        storage.signature(signature_id) or flask.abort(404)
        removed, remaining = retention.delete_signature(storage, signature_id, _who())
        # With reports remaining the signature stays; asking again goes on.
        return flask.jsonify(deleted_reports=removed, remaining_reports=remaining)

    # Pages of PAGE entries: "next_page" and "older_than" say how to ask for
    # the next one, and are null on the last.
    @blueprint.get("/api/signatures")
    def api_signatures():
        page = page_argument()
        found = storage.signatures(page)
        return flask.jsonify(signatures=found, versions=storage.counts_per_version(),
                             next_page=page + 1 if len(found) == PAGE else None)

    @blueprint.get(f"/api/signatures/<{ID}:signature_id>")
    def api_signature(signature_id):
        found = storage.signature(signature_id) or flask.abort(404)
        reports = storage.reports_of(signature_id, before_argument())
        return flask.jsonify(signature=found, reports=reports,
                             older_than=reports[-1]["id"] if len(reports) == PAGE else None)

    @blueprint.get(f"/api/reports/<{ID}:report_id>")
    def api_report(report_id):
        found = storage.report(report_id) or flask.abort(404)
        raw = found["file_name_bytes"]
        # The name as sent, in hex: its encoding is not known for certain.
        found["file_name_bytes"] = raw.hex() if raw is not None else None
        found["file_name_sent"] = file_names.display(raw) if raw is not None else None
        found["stack"] = symbol_routes.stack_json(found["stack"])
        return flask.jsonify(report=found)

    return blueprint
