"""The reporter's side of the service: the version request, the report
upload and the update page.

    GET  <submit_path>?request_app=<app id>      "STATUS_REQUEST_OK" or
                                                 "STATUS_VERSION_OUT_OF_DATE"
    POST <submit_path>[?install_id=<id>]         multipart form: "app_ver",
                                                 "user_msg", file "Filename";
                                                 "STATUS_REPORT_OK" once stored
    GET  /client/faultpost/?app_id=..&l=..       redirect to the update page

The reporter looks for those words anywhere in a 200 answer, so no other
answer may contain them. A refusal's plain-text body begins with its
reason code ("refused: too_large"), see outcomes.
"""
import datetime
import json
import logging
import re
import urllib.parse

import flask
from werkzeug.exceptions import RequestEntityTooLarge

from . import file_names, multipart_form, outcomes, retention
from .app_identity import is_out_of_date, split_app_id
from .archive_store import ArchiveTooLarge
from .filing import is_unknown_bucket, signature_for, storable, storable_text
from .storage import ArchiveMissing, NewReport
from .symbol_store import LookupsOfOneWalk
from .triage import UNREADABLE_ARCHIVE, Signature, Triage, triage

log = logging.getLogger("report_inbox")

# The fields in memory. The decoder checks this against its whole read
# buffer, file data included, so it must stay well above the form's
# 64 KiB reads or a plain upload is refused now and then.
MAX_FIELD_BYTES = 1 << 20
MAX_FORM_PARTS = 16
MAX_APP_ID = 200
_INSTALL_ID = re.compile(r"[0-9A-Za-z_-]{0,64}\Z")


def _page(keyword):
    return flask.Response(f"<html>{keyword}</html>", 200, mimetype="text/html")


def refuse(status, reason, text):
    outcomes.note(flask.request.environ, reason)
    return flask.Response(f"refused: {reason}\n{text}\n", status, mimetype="text/plain")


def unavailable():
    response = refuse(503, outcomes.STORAGE_UNAVAILABLE,
                      "the report could not be stored now; please send it again later")
    response.headers["Retry-After"] = "600"
    return response


_text = storable_text


def _read_report(incoming, app_ver, install_id, form, archive, settings, symbols):
    """The signature, the row of a received report, read from its archive,
    and the modules its walk found no symbols for; a fault in reading
    never loses the report."""
    digest = incoming.hexdigest()
    identity = split_app_id(app_ver, settings)
    lookups = LookupsOfOneWalk(symbols)
    try:
        filed = triage(incoming.path, app_ver, settings, lookups)
    except Exception as error:
        log.exception("triage failed for archive %s", digest)
        filed = Triage(Signature(identity.application, identity.version, "", UNREADABLE_ARCHIVE, ""),
                       problems=[f"the archive could not be read: {type(error).__name__}"])
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    new_report = NewReport(
        received_at=now, app_ver=_text(app_ver), install_id=install_id,
        user_msg=_text(form.get("user_msg", "")),
        file_name=_text(file_names.base_name(file_names.display(archive.filename_bytes))[:255]),
        file_name_bytes=archive.filename_bytes[:file_names.MAX_NAME_BYTES],
        archive_sha256=digest, archive_size=incoming.size,
        entries=_text("\n".join(filed.entries)), problems=_text("\n".join(filed.problems)),
        crash_log=_text(filed.crash_log), stack=stack_text(filed.stack))
    signature = signature_for(filed.signature, identity, settings)
    return storable(signature), new_report, lookups.not_found(filed.stack)


def stack_text(stack):
    """The stack as a report keeps it: JSON, ASCII only, so no NUL reaches
    the database; empty when no stack was walked."""
    return json.dumps(stack.to_json(), separators=(",", ":")) if stack is not None else ""


def create_blueprint(settings, storage, store, counters, symbols=None):
    blueprint = flask.Blueprint("submission", __name__)

    @blueprint.get(settings.submit_path)
    def version_request():
        app_id = flask.request.args.get("request_app")
        if app_id is None:
            return refuse(400, outcomes.MALFORMED_REQUEST,
                          "the version request names no application (?request_app=)")
        if is_out_of_date(app_id[:MAX_APP_ID], settings):
            outcomes.note(flask.request.environ, outcomes.OUT_OF_DATE)
            return _page("STATUS_VERSION_OUT_OF_DATE")
        return _page("STATUS_REQUEST_OK")

    @blueprint.post(settings.submit_path)
    def report():
        request = flask.request
        install_id = request.args.get("install_id", "")
        if not _INSTALL_ID.match(install_id):
            return refuse(400, outcomes.BAD_INSTALL_ID, "install_id must be at most 64 letters, digits, '-' or '_'")
        refused = multipart_form.refusal(request, settings.max_body_bytes, settings.max_upload_bytes, "the report")
        if refused:
            return refuse(*refused)

        # File parts go straight into the store, hashed on the way; only
        # the one kept survives this block.
        received = []
        try:
            try:
                form, files = _parse_form(request, store, received, settings)
            except (RequestEntityTooLarge, ArchiveTooLarge):
                return refuse(413, outcomes.TOO_LARGE,
                              f"the report is larger than {settings.max_upload_bytes} bytes")
            except ValueError as error:
                return refuse(400, outcomes.MALFORMED_FORM,
                              f"the form cannot be read ({error}); the upload is incomplete or malformed")
            archive = files.get("Filename")
            if archive is None:
                return refuse(400, outcomes.MALFORMED_FORM,
                              'the form has no archive (a file part named "Filename")')
            app_ver = form.get("app_ver")
            if app_ver is None:
                return refuse(400, outcomes.MALFORMED_FORM, 'the form has no "app_ver" field')
            if len(app_ver) > MAX_APP_ID:
                return refuse(400, outcomes.MALFORMED_FORM, f'"app_ver" is longer than {MAX_APP_ID} characters')
            incoming = archive.stream
            incoming.finish()
            signature, new_report, missing = _read_report(incoming, app_ver, install_id, form, archive, settings,
                                                          symbols)
            kept = store.place(incoming)
            try:
                filed = storage.add_report_retrying(signature, new_report, incoming,
                                                    lambda: counters.add("inbox_storage_retries_total"), missing)
            except Exception:
                store.forget(kept)
                raise
        except OSError as error:  # a full or failing disk: nothing of this report stays
            log.warning("a report could not be received: %s", error)
            return unavailable()
        except ArchiveMissing:
            log.warning("archive %s was removed while a report of it arrived", new_report.archive_sha256)
            return unavailable()
        except Exception:
            log.exception("a report could not be stored")
            return unavailable()
        finally:
            for each in received:
                each.discard()

        if filed.again:
            # A retry after a lost answer: stored once, answered the same.
            log.info("report %d received again: %s", filed.report_id, new_report.archive_sha256)
        else:
            log.info("report %d stored: %s, %d bytes", filed.report_id, new_report.archive_sha256,
                     new_report.archive_size)
            counters.add("inbox_reports_stored_total")
            if new_report.problems:
                counters.add("inbox_triage_problems_total")
            if is_unknown_bucket(signature):
                counters.add("inbox_reports_unknown_application_total")
                outcomes.note(request.environ, outcomes.UNKNOWN_APPLICATION)
                try:
                    retention.trim_unknown(storage, settings, filed.signature_id)
                except Exception:  # the report is stored; the next one trims again
                    log.exception("the unknown applications' reports could not be trimmed")
        return _page("STATUS_REPORT_OK")

    @blueprint.get("/client/faultpost/")
    def update_page():
        app_id = flask.request.args.get("app_id", "")[:MAX_APP_ID]
        language = flask.request.args.get("l", "us_en")
        app = settings.application(split_app_id(app_id, settings).application)
        template = (app.update_page if app and app.update_page else "") or settings.update_page
        if not template:
            return refuse(404, outcomes.NO_UPDATE_PAGE, "no update page is configured")
        target = template.replace("{app_id}", urllib.parse.quote(app_id, safe="")).replace(
            "{lang}", "zh_cn" if language == "zh_cn" else "us_en")
        return flask.redirect(target, 302)

    return blueprint


def _parse_form(request, store, received, settings):
    """The form's fields and files; a truncated or malformed body raises
    ValueError instead of giving an empty form. Each file part is received
    into the store and listed in `received`."""
    def receive_file():
        incoming = store.receive(settings.max_upload_bytes)
        received.append(incoming)
        return incoming

    boundary = request.mimetype_params["boundary"].encode("latin-1")
    form = multipart_form.read_form(request.stream, boundary, receive_file, MAX_FIELD_BYTES, MAX_FORM_PARTS)
    return form.fields, form.files
