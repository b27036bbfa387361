"""The service's settings file (INI).

    [service]
    listen = 127.0.0.1:8080
    data_dir = /var/lib/report-inbox
    # empty: SQLite in data_dir; or postgresql://user@host:port/dbname
    database =
    submit_path = /faultpost/submit
    # where "/client/faultpost/" sends the reporter's update link;
    # {app_id} and {lang} are filled in
    update_page = https://example.com/download/?app={app_id}&lang={lang}
    max_upload_mb = 64
    max_unpacked_mb = 256
    threads = 8
    # server processes sharing the port: one per core a deployment gives it
    processes = 1
    client_timeout = 30
    # connections held open at once, fewer if the open-files limit is lower
    max_connections = 1000
    # "yes" only where browsers reach the inbox itself over plain HTTP on
    # this machine's loopback; otherwise it sits behind a TLS proxy and its
    # cookie is sent over HTTPS only
    plain_http_on_loopback = no
    # versions filed apart per application; later ones go to "(other versions)"
    max_versions = 100
    # reports of applications not configured below, all in one signature of
    # their own; the oldest go first
    max_unknown_reports = 1000
    # retention, 0 for none: reports older than keep_days, and the oldest
    # reports while all archives together take more than keep_total_mb
    keep_days = 0
    keep_total_mb = 0
    retention_check_seconds = 600
    # "files" in data_dir, or "database": in the database with the reports,
    # so several services on several machines share one PostgreSQL and
    # keep nothing on their own disks
    archives = files
    # besides the inbox token, a token that reads /metrics and nothing else
    # (at least 16 characters), for a scraper
    metrics_token =
    # the largest symbol file (a module's PE with its debug information)
    # a token holder may upload
    max_symbol_mb = 200
    # a dump larger than this is filed by its fault alone, its stack not
    # walked: the walk reads the whole dump into memory
    max_dump_mb = 64

    [application plugin_Drovan.exe]
    current_version = dr20100201
    update_page = https://example.com/drovan/?lang={lang}

Every key has a default, so a file with only an application section works.
"""
import configparser
import dataclasses
import os


class SettingsError(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Application:
    name: str              # the executable name ending the reporter's app id
    current_version: str   # the prefix of the app id that is current
    update_page: str = ""  # overrides the service's update page


@dataclasses.dataclass(frozen=True)
class Settings:
    host: str = "127.0.0.1"
    port: int = 8080
    data_dir: str = "."
    database: str = ""
    submit_path: str = "/faultpost/submit"
    update_page: str = ""
    max_upload_bytes: int = 64 << 20
    max_unpacked_bytes: int = 256 << 20
    threads: int = 8
    processes: int = 1
    client_timeout: int = 30
    max_connections: int = 1000
    plain_http_on_loopback: bool = False
    max_versions: int = 100
    max_unknown_reports: int = 1000
    keep_days: int = 0
    keep_total_bytes: int = 0
    retention_check_seconds: int = 600
    archives: str = "files"
    metrics_token: str = ""
    max_symbol_bytes: int = 200 << 20
    max_dump_bytes: int = 64 << 20
    applications: tuple = ()

    @property
    def max_body_bytes(self):
        """A report's whole body: the archive and the form's own lines."""
        return self.max_upload_bytes + (1 << 20)

    @property
    def max_symbol_body_bytes(self):
        return self.max_symbol_bytes + (1 << 20)

    @property
    def max_request_bytes(self):
        """The largest body the server receives at all: a report's or a
        symbol file's, each endpoint holding its own bound."""
        return max(self.max_body_bytes, self.max_symbol_body_bytes)

    def application(self, name):
        for app in self.applications:
            if app.name.lower() == name.lower():
                return app
        return None


def _positive(section, key, default):
    try:
        value = section.getint(key, fallback=default)
    except ValueError:
        raise SettingsError(f"{key} must be a whole number") from None
    if value <= 0:
        raise SettingsError(f"{key} must be greater than 0")
    return value


def _not_negative(section, key):
    try:
        value = section.getint(key, fallback=0)
    except ValueError:
        raise SettingsError(f"{key} must be a whole number") from None
    if value < 0:
        raise SettingsError(f"{key} must not be negative")
    return value


def _yes_or_no(section, key):
    try:
        return section.getboolean(key, fallback=False)
    except ValueError:
        raise SettingsError(f"{key} must be yes or no") from None


def parse_listen(text):
    host, sep, port = text.rpartition(":")
    if not sep or not port.isdigit() or not 0 <= int(port) <= 65535:
        raise SettingsError(f"listen must be HOST:PORT, not {text!r}")
    return host.strip("[]") or "127.0.0.1", int(port)


def check(settings):
    """Raises SettingsError for settings that contradict each other."""
    if settings.plain_http_on_loopback and not _is_loopback(settings.host):
        raise SettingsError(f"plain_http_on_loopback needs a loopback listen address, not {settings.host}")
    if settings.archives not in ("files", "database"):
        raise SettingsError(f"archives must be files or database, not {settings.archives!r}")
    if settings.metrics_token and len(settings.metrics_token) < 16:
        raise SettingsError("metrics_token must have at least 16 characters")
    return settings


def _is_loopback(host):
    import ipaddress
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def load(path):
    parser = configparser.ConfigParser(interpolation=None)
    try:
        with open(path, encoding="utf-8") as f:
            parser.read_file(f)
    except (OSError, UnicodeDecodeError, configparser.Error) as error:
        raise SettingsError(f"{path}: {error}") from None
    service = parser["service"] if parser.has_section("service") else parser[parser.default_section]
    host, port = parse_listen(service.get("listen", "127.0.0.1:8080"))
    submit_path = service.get("submit_path", "/faultpost/submit")
    if not submit_path.startswith("/"):
        raise SettingsError("submit_path must start with /")
    applications = []
    for name in parser.sections():
        if not name.startswith("application "):
            continue
        section = parser[name]
        app_name = name[len("application "):].strip()
        if not app_name or "current_version" not in section:
            raise SettingsError(f"[{name}] needs an executable name and current_version")
        applications.append(Application(app_name, section["current_version"].strip(),
                                        section.get("update_page", "").strip()))
    data_dir = service.get("data_dir", ".")
    return check(Settings(
        host=host, port=port,
        data_dir=os.path.join(os.path.dirname(os.path.abspath(path)), data_dir),
        database=service.get("database", "").strip(),
        submit_path=submit_path,
        update_page=service.get("update_page", "").strip(),
        max_upload_bytes=_positive(service, "max_upload_mb", 64) << 20,
        max_unpacked_bytes=_positive(service, "max_unpacked_mb", 256) << 20,
        threads=_positive(service, "threads", 8),
        processes=_positive(service, "processes", 1),
        client_timeout=_positive(service, "client_timeout", 30),
        max_connections=_positive(service, "max_connections", 1000),
        plain_http_on_loopback=_yes_or_no(service, "plain_http_on_loopback"),
        max_versions=_positive(service, "max_versions", 100),
        max_unknown_reports=_positive(service, "max_unknown_reports", 1000),
        keep_days=_not_negative(service, "keep_days"),
        keep_total_bytes=_not_negative(service, "keep_total_mb") << 20,
        retention_check_seconds=_positive(service, "retention_check_seconds", 600),
        archives=service.get("archives", "files").strip(),
        metrics_token=service.get("metrics_token", "").strip(),
        max_symbol_bytes=_positive(service, "max_symbol_mb", 200) << 20,
        max_dump_bytes=_positive(service, "max_dump_mb", 64) << 20,
        applications=tuple(applications)))
