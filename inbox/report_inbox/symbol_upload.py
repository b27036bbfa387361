"""Uploads a release's symbol files to the inbox, as a release script runs it:

    python3 -m report_inbox upload-symbols --url https://reports.example.com
                                           [--token-file FILE] [--replace] FOLDER

FOLDER is laid out as a symbol store, FOLDER/<module>/<KEY>/<module>, KEY
being the module's PE time stamp as 8 hexadecimal digits and its image
size in hexadecimal ("%08X%x"), for example
symbols/plugin_Drovan.dll/6B19A2601D000/plugin_Drovan.dll. The token comes
from --token-file or REPORT_INBOX_TOKEN (never the command line, which other
users can read). Each file is streamed, never held in memory; one line is
printed per file, and the exit status is 1 if any was refused or failed, 2
when nothing could be tried.

Only the standard library is used, so any machine with Python can run it.
"""
import argparse
import json
import os
import sys
import urllib.error
import urllib.request
import uuid

from .symbol_keys import BadKey, check_name, parse_folder

TIMEOUT = 300
BLOCK = 1 << 20


def symbol_files(folder):
    """(path shown, path, name, time stamp, image size, problem) of each
    file laid out as the store's; problem is None for one to upload."""
    found = []
    for name in sorted(os.listdir(folder)):
        module_folder = os.path.join(folder, name)
        if not os.path.isdir(module_folder):
            continue
        for key in sorted(os.listdir(module_folder)):
            shown = f"{name}/{key}/{name}"
            path = os.path.join(module_folder, key, name)
            try:
                check_name(name)
                time_stamp, image_size = parse_folder(key)
            except BadKey as error:
                found.append((shown, path, name, 0, 0, str(error)))
                continue
            if not os.path.isfile(path):
                found.append((shown, path, name, 0, 0, f"{key} holds no file named {name}"))
                continue
            found.append((shown, path, name, time_stamp, image_size, None))
    return found


class _Body:
    """The multipart form read in blocks: its fields, then the file from
    disk, then the closing boundary."""

    def __init__(self, fields, path, boundary):
        head = b"".join(f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n{value}\r\n'
                        .encode("utf-8") for name, value in fields.items())
        head += (f'--{boundary}\r\nContent-Disposition: form-data; name="file"; filename="symbols"\r\n'
                 f"Content-Type: application/octet-stream\r\n\r\n").encode("utf-8")
        self._parts = [head, None, f"\r\n--{boundary}--\r\n".encode("utf-8")]
        self._path = path
        self.length = len(head) + os.path.getsize(path) + len(self._parts[2])
        self._file = None

    def read(self, size=BLOCK):
        while self._parts:
            if self._parts[0] is None:
                if self._file is None:
                    self._file = open(self._path, "rb")
                data = self._file.read(size)
                if data:
                    return data
                self._file.close()
                self._parts.pop(0)
                continue
            data, rest = self._parts[0][:size], self._parts[0][size:]
            if rest:
                self._parts[0] = rest
            else:
                self._parts.pop(0)
            return data
        return b""

    def close(self):
        if self._file is not None:
            self._file.close()


def upload(url, token, path, name, time_stamp, image_size, replace):
    """(outcome, words): outcome "stored", "already there", "refused" or
    "failed"."""
    fields = {"module": name, "time_stamp": f"0x{time_stamp:08x}", "image_size": f"0x{image_size:x}"}
    if replace:
        fields["replace"] = "yes"
    boundary = "symbols-" + uuid.uuid4().hex
    body = _Body(fields, path, boundary)
    request = urllib.request.Request(
        url.rstrip("/") + "/inbox/api/symbols", data=body, method="POST",
        headers={"Content-Type": f"multipart/form-data; boundary={boundary}",
                 "Content-Length": str(body.length), "Authorization": f"Bearer {token}"})
    try:
        with urllib.request.urlopen(request, timeout=TIMEOUT) as answer:
            result = json.loads(answer.read())
        return ("stored" if result.get("stored") else "already there"), result.get("sha256", "")
    except urllib.error.HTTPError as error:
        try:
            why = json.loads(error.read()).get("error", "")
        except (ValueError, OSError, AttributeError):
            why = ""
        return "refused", f"{error.code} {why or error.reason}"
    except (OSError, ValueError) as error:
        return "failed", str(error)
    finally:
        body.close()


def main(argv):
    parser = argparse.ArgumentParser(prog="report_inbox upload-symbols",
                                     description="Uploads a folder laid out as a symbol store to the inbox.")
    parser.add_argument("--url", required=True, help="the inbox's address, e.g. https://reports.example.com")
    parser.add_argument("--token-file")
    parser.add_argument("--replace", action="store_true",
                        help="replace a different file already stored for the same build")
    parser.add_argument("folder")
    args = parser.parse_args(argv)
    try:
        if args.token_file:
            with open(args.token_file, encoding="utf-8") as f:
                token = f.read().strip()
        else:
            token = os.environ.get("REPORT_INBOX_TOKEN", "").strip()
        if not token:
            raise OSError("no token: give --token-file or set REPORT_INBOX_TOKEN")
        found = symbol_files(args.folder)
    except OSError as error:
        print(f"upload-symbols: {error}", file=sys.stderr)
        return 2
    if not found:
        print(f"upload-symbols: {args.folder} holds no MODULE/KEY/MODULE files", file=sys.stderr)
        return 2
    failures = 0
    for shown, path, name, time_stamp, image_size, problem in found:
        if problem is not None:
            outcome, words = "refused", problem
        else:
            outcome, words = upload(args.url, token, path, name, time_stamp, image_size, args.replace)
        failures += outcome in ("refused", "failed")
        print(f"{shown}: {outcome}" + (f": {words}" if outcome in ("refused", "failed") else ""), flush=True)
    return 1 if failures else 0
