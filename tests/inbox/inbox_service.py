"""The report inbox as tests and benchmarks run it: a real service process
(Debian's /usr/bin/python3, which sees the distribution's packages) on a
free loopback port, with its own settings, data folder and token, and
optionally a private PostgreSQL cluster in a temporary folder.

    with InboxService(tmp) as inbox:
        inbox.upload(archive_bytes, app_ver="dr20100201plugin_Drovan.exe")
        inbox.api("/inbox/api/signatures")
"""
import http.client
import json
import os
import shutil
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PYTHON = "/usr/bin/python3"
TOKEN = "inbox-test-token-0123456789"
BOUNDARY = "--MULTI-PARTS-FORM-DATA-BOUNDARY"
PG_BIN = "/usr/lib/postgresql/15/bin"
HERE = os.path.dirname(os.path.abspath(__file__))


def report_form(archive, app_ver="dr20100201plugin_Drovan.exe", user_msg="", filename="C:\\dir\\CRASH.ZIP"):
    """The report body exactly as the reporter lays it out; `filename` as
    text (sent in UTF-8) or as the bytes of the sender's code page."""
    def part(header, content):
        return b"--" + BOUNDARY.encode() + b"\r\n" + header + b"\r\n\r\n" + content + b"\r\n"
    return (part(b'Content-Disposition: form-data; name="app_ver"', app_ver.encode())
            + part(b'Content-Disposition: form-data; name="user_msg"', user_msg.encode("utf-8"))
            + part(b'Content-Disposition: form-data; name="Filename"; filename="'
                   + (filename if isinstance(filename, bytes) else filename.encode()) + b'"',
                   archive)
            + b"--" + BOUNDARY.encode() + b"--\r\n")


class PrivatePostgres:
    """A PostgreSQL cluster of its own, in `folder`, on a free port; for
    tests without fsync, and `durable` with it, as a deployment runs."""

    def __init__(self, folder, durable=False):
        self.folder = folder
        self.durable = durable
        self.port = _free_port()
        self.as_postgres = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []

    def __enter__(self):
        os.makedirs(self.folder, exist_ok=True)
        if self.as_postgres:
            shutil.chown(self.folder, "postgres", "postgres")
        data = os.path.join(self.folder, "data")
        self._run([f"{PG_BIN}/initdb", "-D", data, "-A", "trust", "-U", "postgres", "--no-sync"])
        self._pg_ctl_start(data)
        return self

    def _pg_ctl_start(self, data):
        self._run([f"{PG_BIN}/pg_ctl", "-D", data, "-l", os.path.join(self.folder, "log"), "-w", "-t", "60",
                   "-o", f"-k {self.folder} -p {self.port} -c listen_addresses=127.0.0.1 -c max_connections=200"
                         + ("" if self.durable else " -c fsync=off"),
                   "start"])

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._run([f"{PG_BIN}/pg_ctl", "-D", os.path.join(self.folder, "data"), "-m", "immediate", "-w",
                   "stop"], check=False)

    def start(self):
        """Starts the cluster again after stop(), on the same port."""
        self._pg_ctl_start(os.path.join(self.folder, "data"))

    def address(self):
        return f"postgresql://postgres@127.0.0.1:{self.port}/postgres"

    def _run(self, command, check=True):
        subprocess.run(self.as_postgres + command, check=check, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


class InboxService:
    def __init__(self, folder, database="", settings="", current_version="dr20100201", limits=None,
                 plain_http=True, env=None, module="report_inbox"):
        """`limits`: resource limits of the service process, {RLIMIT_...: value}.
        `plain_http`: browsers reach it over plain HTTP on the loopback, so
        its cookie is not HTTPS-only; without, it is as behind a TLS proxy.
        `module`: what `python3 -m` runs, another module of this folder
        starting the service with a part of it replaced."""
        self.folder = folder
        self.plain_http = plain_http
        self.extra_env = env or {}
        self.limits = limits or {}
        self.database = database
        self.extra_settings = settings
        self.current_version = current_version
        self.module = module
        self.process = None
        self.port = None

    def __enter__(self):
        os.makedirs(self.folder, exist_ok=True)
        config = os.path.join(self.folder, "inbox.ini")
        with open(config, "w") as f:
            f.write("[service]\nlisten = 127.0.0.1:0\ndata_dir = data\n"
                    "update_page = https://updates.example.com/?app={app_id}&lang={lang}\n"
                    f"plain_http_on_loopback = {'yes' if self.plain_http else 'no'}\n"
                    f"{self.extra_settings}\n"
                    f"[application plugin_Drovan.exe]\ncurrent_version = {self.current_version}\n")
        port_file = os.path.join(self.folder, "port")
        if os.path.exists(port_file):  # left by an earlier start in the same folder
            os.unlink(port_file)
        self.log_path = os.path.join(self.folder, "service.log")
        path = [os.path.join(ROOT, "inbox")] + ([HERE] if self.module != "report_inbox" else [])
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(path), REPORT_INBOX_TOKEN=TOKEN, **self.extra_env)
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen(
                [PYTHON, "-m", self.module, "--config", config, "--database", self.database,
                 "--port-file", port_file], env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                preexec_fn=self._limit if self.limits else None)
        end = time.time() + 30
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.time() > end:
                self.__exit__()
                raise RuntimeError("the inbox did not start:\n" + self.log())
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        return self

    def _limit(self):
        import resource
        import signal
        # A write past the file-size limit then fails with EFBIG, as a
        # write to a full disk fails, instead of killing the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        for kind, value in self.limits.items():
            resource.setrlimit(kind, (value, value))

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def request(self, method, path, body=None, headers=None, timeout=60, with_headers=False):
        """(status, body bytes) of one request, and its headers if asked."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            answer = response.status, response.read()
            return answer + (response.headers,) if with_headers else answer
        finally:
            connection.close()

    def upload(self, archive, query="?install_id=0123456789abcdef0123456789abcdef", **form):
        body = report_form(archive, **form)
        return self.request("POST", "/faultpost/submit" + query, body,
                            {"Content-Type": "multipart/form-data; boundary=" + BOUNDARY, "Accept": "*/*"})

    def all_reports(self):
        """(signature, report) for every report listed, page after page."""
        found, page = [], 0
        while page is not None:
            listing = self.api(f"/inbox/api/signatures?page={page}")
            for signature in listing["signatures"]:
                before = ""
                while before is not None:
                    view = self.api(f"/inbox/api/signatures/{signature['id']}?before={before}")
                    found += [(signature, report) for report in view["reports"]]
                    before = view["older_than"]
            page = listing["next_page"]
        return found

    def metrics(self, token=TOKEN):
        """The counters at /metrics, {'name' or 'name{labels}': value}."""
        status, body = self.request("GET", "/metrics", headers={"Authorization": "Bearer " + token})
        if status != 200:
            raise AssertionError(f"/metrics answered {status}: {body[:200]!r}")
        return {name: int(value) for name, value in (line.rsplit(" ", 1) for line in body.decode().splitlines()
                                                     if line and not line.startswith("#"))}

    def health(self, expected=200):
        """(status, JSON answer) of /health, asked again for up to 10 s
        until it answers `expected`: the service keeps a check's result
        for a second."""
        end = time.monotonic() + 10
        while True:
            status, body = self.request("GET", "/health", timeout=30)
            if status == expected or time.monotonic() > end:
                return status, json.loads(body)
            time.sleep(0.2)

    def api(self, path, token=TOKEN):
        """The JSON of an inbox view, or (status, body) when refused."""
        status, body = self.request("GET", path, headers={"Authorization": "Bearer " + token} if token else {})
        return json.loads(body) if status == 200 else (status, body)


def _free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def temporary_folder(prefix):
    """A folder the postgres user may enter, for a private cluster."""
    folder = tempfile.mkdtemp(prefix=prefix)
    os.chmod(folder, 0o755)
    return folder


def stop_class_services(cls):
    """A test class's tearDownClass: its service, the extra ones it started
    (newest first), and its folder."""
    cls.inbox.__exit__(None, None, None)
    for extra in reversed(cls.extras):
        extra.__exit__(None, None, None)
    shutil.rmtree(cls.folder, ignore_errors=True)


__all__ = ["InboxService", "PrivatePostgres", "report_form", "stop_class_services", "TOKEN", "temporary_folder"]
