"""Symbol files and walking reports again, for token holders: routes added
to the inbox's blueprint, behind its token check.

    POST /inbox/api/symbols                 multipart form: "module",
                                            "time_stamp", "image_size"
                                            (decimal or 0x...), optional
                                            "replace" = "yes", file "file"
    GET  /inbox/api/symbols[?page=N]        the stored files, 100 a page
    POST /inbox/api/symbols/walk[?limit=N]  the reports waiting for symbols
                                            stored since, 20 a request
    POST /inbox/api/reports/ID/walk         one report
    POST /inbox/reports/ID/walk             the report page's button

Refusals answer JSON {"error", "reason"}, the reason one of outcomes' codes
where one fits.
"""
import json
import logging

import flask
from werkzeug.exceptions import RequestEntityTooLarge

from . import multipart_form, outcomes, walk_again
from .archive_store import ArchiveTooLarge
from .submission import MAX_FIELD_BYTES
from .symbol_keys import BadKey, module_key
from .symbol_store import PAGE as SYMBOLS_PAGE, SymbolConflict

MAX_SYMBOL_FORM_PARTS = 8
MAX_PAGE = 1 << 40
log = logging.getLogger("report_inbox")


def _refuse(status, reason, text, **more):
    if reason:
        outcomes.note(flask.request.environ, reason)
    return flask.jsonify(error=text, reason=reason, **more), status


def add_routes(blueprint, settings, storage, store, symbols):
    @blueprint.post("/api/symbols")
    def upload_symbols():
        request = flask.request
        limit = settings.max_symbol_bytes
        refused = multipart_form.refusal(request, settings.max_symbol_body_bytes, limit, "the symbol upload")
        if refused:
            return _refuse(*refused)
        received = []

        def receive_file():
            incoming = symbols.receive(limit)
            received.append(incoming)
            return incoming

        try:
            boundary = request.mimetype_params["boundary"].encode("latin-1")
            try:
                form = multipart_form.read_form(request.stream, boundary, receive_file, MAX_FIELD_BYTES,
                                                MAX_SYMBOL_FORM_PARTS)
            except (RequestEntityTooLarge, ArchiveTooLarge):
                return _refuse(413, outcomes.TOO_LARGE, f"the symbol file is larger than {limit} bytes")
            except ValueError as error:
                return _refuse(400, outcomes.MALFORMED_FORM, f"the form cannot be read ({error})")
            part = form.files.get("file")
            if part is None:
                return _refuse(400, outcomes.MALFORMED_FORM, 'the form has no file part named "file"')
            try:
                key = module_key(form.fields.get("module", ""), form.fields.get("time_stamp", ""),
                                 form.fields.get("image_size", ""))
            except BadKey as error:
                return _refuse(400, outcomes.MALFORMED_FORM, str(error))
            incoming = part.stream
            incoming.finish()
            incoming.seek(0)
            # The walker reads PE images; anything else here is a mistake
            # of the release script (a PDB, a compressed or wrong file).
            if incoming.read(2) != b"MZ":
                return _refuse(400, outcomes.MALFORMED_FORM, "the file is not a PE image (no MZ header)")
            try:
                added = symbols.add(key, incoming, form.fields.get("replace", "").strip().lower() == "yes")
            except SymbolConflict as error:
                return _refuse(409, None, f"{key.name} {key.folder()} already has another symbol file; "
                                          "send replace=yes to replace it", sha256=error.existing_sha256)
        except OSError as error:
            log.warning("a symbol file could not be stored: %s", error)
            return _refuse(503, outcomes.STORAGE_UNAVAILABLE, "the symbol file could not be stored now")
        finally:
            for each in received:
                each.discard()
        return flask.jsonify(module=key.name, time_stamp=key.time_stamp, image_size=key.image_size,
                             folder=key.folder(), sha256=added.sha256, size=added.size,
                             stored=added.stored), 201 if added.stored else 200

    @blueprint.get("/api/symbols")
    def list_symbols():
        page = min(max(0, flask.request.args.get("page", 0, type=int)), MAX_PAGE)
        found = symbols.listing(page)
        return flask.jsonify(symbols=found, next_page=page + 1 if len(found) == SYMBOLS_PAGE else None)

    @blueprint.post("/api/symbols/walk")
    def walk_waiting():
        limit = min(max(1, flask.request.args.get("limit", walk_again.MAX_WALKED_AT_ONCE, type=int)),
                    walk_again.MAX_WALKED_AT_ONCE)
        done = walk_again.walk_waiting(storage, store, symbols, settings, limit)
        log.info("reports waiting for symbols walked again by the token holder at %s: %s",
                 flask.request.remote_addr, done)
        return flask.jsonify(**done)

    def walk_one(report_id):
        try:
            return walk_again.walk_report(storage, store, symbols, settings, report_id) or flask.abort(404)
        except walk_again.ArchiveGone:
            flask.abort(410)

    @blueprint.post("/api/reports/<row_id:report_id>/walk")
    def api_walk_report(report_id):
        walked = walk_one(report_id)
        report = storage.report(report_id)
        return flask.jsonify(report_id=report_id, old_signature_id=walked.old_signature_id,
                             signature_id=walked.signature_id, moved=walked.moved,
                             stack=stack_json(report["stack"] if report else ""))

    # A form on the report page: the session cookie is SameSite=Strict, so
    # no other site can post it, as with the delete buttons.
    @blueprint.post("/reports/<row_id:report_id>/walk")
    def walk_report(report_id):
        walk_one(report_id)
        return flask.redirect(flask.url_for("inbox.report", report_id=report_id))


def stack_json(text):
    """A report's stored stack as the JSON views show it; None for none."""
    return json.loads(text) if text else None
