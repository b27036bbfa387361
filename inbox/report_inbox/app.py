"""The service as one WSGI application."""
import hashlib
import hmac

import flask

from . import inbox_pages, submission


def create_app(settings, storage, store, token):
    app = flask.Flask(__name__)
    app.config.update(
        # Derived from the token, so that every process behind the proxy
        # honours the others' sessions, and a new token ends them all.
        SECRET_KEY=hmac.new(token.encode("utf-8"), b"report inbox session", hashlib.sha256).digest(),
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Strict",
        SESSION_COOKIE_NAME="inbox_session",
        # Behind the TLS proxy the browser must never send the session over
        # plain HTTP; only a setting for a loopback-only inbox says otherwise.
        SESSION_COOKIE_SECURE=not settings.plain_http_on_loopback,
        JSON_SORT_KEYS=False,
    )
    app.url_map.converters["row_id"] = inbox_pages.RowId
    app.register_blueprint(submission.create_blueprint(settings, storage, store))
    app.register_blueprint(inbox_pages.create_blueprint(storage, store, token))

    @app.get("/")
    def home():
        return flask.redirect(flask.url_for("inbox.signatures"))

    @app.after_request
    def guarded(response):
        response.headers.setdefault("Content-Security-Policy", "default-src 'self'; img-src 'self'")
        response.headers.setdefault("X-Content-Type-Options", "nosniff")
        response.headers.setdefault("Referrer-Policy", "no-referrer")
        response.headers.setdefault("X-Frame-Options", "DENY")
        if not settings.plain_http_on_loopback:
            response.headers.setdefault("Strict-Transport-Security", "max-age=31536000")
        return response

    return app
