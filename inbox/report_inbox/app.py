"""The service as one WSGI application."""
import hashlib
import hmac

import flask

from . import health, inbox_pages, outcomes, submission


def create_app(settings, storage, store, token, counters, symbols):
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
        # What the server checks a request's head against before it lets a
        # body as large as a symbol file in.
        INBOX_TOKEN=token,
    )
    app.url_map.converters["row_id"] = inbox_pages.RowId
    app.register_blueprint(submission.create_blueprint(settings, storage, store, counters, symbols))
    app.register_blueprint(inbox_pages.create_blueprint(storage, store, token, settings, symbols))
    app.register_blueprint(health.create_blueprint(storage, store))
    # Each request logged and its refusal counted, whichever part answers.
    app.wsgi_app = outcomes.LoggedRequests(app.wsgi_app, counters)
    scrapers = [secret.encode("utf-8") for secret in (token, settings.metrics_token) if secret]

    @app.get("/metrics")
    def metrics():
        # The inbox token, or metrics_token for a scraper that should not
        # hold the key to the reports.
        presented = flask.request.headers.get("Authorization", "")
        presented = presented[len("Bearer "):].encode("utf-8") if presented.startswith("Bearer ") else b""
        if not any(hmac.compare_digest(presented, secret) for secret in scrapers):
            return flask.Response("the inbox token or the metrics token is required\n", 401, mimetype="text/plain")
        return flask.Response(counters.prometheus_text(), mimetype="text/plain; version=0.0.4")

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
