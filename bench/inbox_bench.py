#!/usr/bin/env python3
"""How fast the report inbox takes in typical reports from many clients at
once, and whether it keeps every one of them whole.

    /usr/bin/python3 bench/inbox_bench.py [--reports 2000] [--size-kb 150] [--clients 64]
                                          [--processes N (default: one per core)]

For each store (SQLite with archives in files; PostgreSQL with archives in
files; PostgreSQL with archives in the database) a real service is started
and the same distinct archives are posted by as many clients at once, each
sending its next report as soon as the last is answered, one connection per
report as the reporter does. Printed: reports a second, and the median and
p99 time from sending a report to its answer.

Beside each row is a plain copy of the same bytes in the same run: every
archive written to its own file and fsync'ed, by as many threads at once,
in the same folder. The inbox cannot keep a report faster than the disk
keeps its bytes, so that copy is the floor; the distance to it is what
HTTP, form parsing, hashing, filing and the database cost. Figures are
only printed: this machine's disk and load decide them, so they are not
judged here.

The run fails only if a report is refused, missing, duplicated, or listed
or served with other bytes than were sent.
"""
import argparse
import collections
import hashlib
import math
import os
import random
import shutil
import statistics
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "inbox"))
import archives  # noqa: E402
import inbox_service  # noqa: E402
from inbox_service import InboxService, PrivatePostgres, report_form, temporary_folder  # noqa: E402

MB = 1 << 20
DOWNLOADED = 3
SUBMIT = "/faultpost/submit"
FORM_HEADERS = {"Content-Type": "multipart/form-data; boundary=" + inbox_service.BOUNDARY, "Accept": "*/*"}
BASELINE = ("copy files/s: the same archives written to files in the same folder by as many threads at once, "
            "each fsync'ed (the disk's own floor); of copy: the inbox's rate as a share of it")


class Upload:
    """One archive and the form that carries it, built before any clock
    runs so the timings hold no zipping or hashing on our side."""

    def __init__(self, index, archive):
        self.index = index
        self.archive = archive
        self.sha256 = hashlib.sha256(archive).hexdigest()
        self.body = report_form(archive, user_msg=f"inbox benchmark, upload {index}")
        self.status = None
        self.answer = b""
        self.seconds = None


def build_archives(count, size_kb, seed=20100201):
    """Good reports whose dumps end in random padding: random bytes do not
    deflate, so the archive is as large as asked, and every one differs."""
    rng = random.Random(seed)
    padding = max(0, int(size_kb * 1024) - len(archives.minidump()))
    return [archives.archive([("CRASH.DMP", archives.minidump() + rng.randbytes(padding)),
                              ("CRASHLOG.DAT", b""), ("CRASHLOG.TXT", archives.crash_log())])
            for _ in range(count)]


def by_clients(count, clients, work):
    """Runs work(i) for i in range(count) on `clients` threads released
    together, each taking the next i when done; returns the wall seconds
    from release until the last one is done."""
    released = []
    barrier = threading.Barrier(clients, action=lambda: released.append(time.perf_counter()))
    next_index = iter(range(count))
    lock = threading.Lock()

    def run():
        barrier.wait()
        while True:
            with lock:
                i = next(next_index, None)
            if i is None:
                return
            work(i)

    threads = [threading.Thread(target=run) for _ in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - released[0]


def copy_baseline(folder, blobs, clients):
    """Wall seconds to keep the bytes on disk with nothing else around it."""
    os.makedirs(folder)

    def write(i):
        with open(os.path.join(folder, f"{i}.zip"), "wb") as f:
            f.write(blobs[i])
            f.flush()
            os.fsync(f.fileno())

    try:
        return by_clients(len(blobs), clients, write)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def upload_batch(inbox, uploads, clients):
    def send(i):
        upload = uploads[i]
        start = time.perf_counter()
        try:
            upload.status, upload.answer = inbox.request(
                "POST", f"{SUBMIT}?install_id=bench{i:05d}", upload.body, FORM_HEADERS, timeout=120)
        except OSError as error:  # a refused or dropped connection is a result to report, not a crash
            upload.status, upload.answer = None, repr(error).encode()
        upload.seconds = time.perf_counter() - start

    return by_clients(len(uploads), clients, send)


def listed_reports(inbox):
    """Every report the inbox lists, found by walking its signatures page
    by page; and the problems met on the way."""
    try:
        pairs = inbox.all_reports()
    except (TypeError, KeyError) as error:  # a view answered with an error status instead of JSON
        return [], [f"the listing could not be walked: {error!r}"]
    problems, counted = [], collections.Counter(signature["id"] for signature, _ in pairs)
    for signature in {signature["id"]: signature for signature, _ in pairs}.values():
        if signature["report_count"] != counted[signature["id"]]:
            # A count that disagrees with the rows is a lost update under concurrency.
            problems.append(f"signature {signature['id']} counts {signature['report_count']} reports "
                            f"but lists {counted[signature['id']]}")
    return [report for _, report in pairs], problems


def check_answers(uploads):
    return [f"upload {u.index} was answered {u.status}: {u.answer[:200]!r}" for u in uploads
            if u.status != 200 or b"STATUS_REPORT_OK" not in u.answer]


def check_listing(uploads, reports):
    sent = collections.Counter((u.sha256, len(u.archive)) for u in uploads)
    listed = collections.Counter((r["archive_sha256"], r["archive_size"]) for r in reports)
    problems = [f"archive {sha[:12]}… ({size} bytes) was sent once but listed {listed[(sha, size)]} times"
                for (sha, size) in sent if listed[(sha, size)] != 1]
    problems += [f"report lists archive {sha[:12]}… ({size} bytes), which was never sent"
                 for (sha, size) in listed if (sha, size) not in sent]
    return problems


def check_downloads(inbox, uploads, reports):
    """A listing can be right while the file behind it is not: fetch a few."""
    by_digest = {u.sha256: u.archive for u in uploads}
    problems = []
    for report in [r for r in reports if r["archive_sha256"] in by_digest][:DOWNLOADED]:
        status, data = inbox.request("GET", f"/inbox/reports/{report['id']}/archive",
                                     headers={"Authorization": "Bearer " + inbox_service.TOKEN})
        if status != 200:
            problems.append(f"report {report['id']}'s archive was answered {status}")
        elif data != by_digest[report["archive_sha256"]]:
            problems.append(f"report {report['id']}'s archive came back as {len(data)} bytes other than those sent")
    return problems


def integrity_problems(inbox, uploads):
    problems = check_answers(uploads)
    reports, walk_problems = listed_reports(inbox)
    return problems + walk_problems + check_listing(uploads, reports) + check_downloads(inbox, uploads, reports)


def p99(values):
    """Nearest rank, so with few uploads it is the slowest one, not a blend."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(0.99 * len(ordered)) - 1)]


STORES = (("SQLite", "files"), ("PostgreSQL", "files"), ("PostgreSQL", "database"))


def measure(database, archives_in, blobs, clients, processes):
    """One store's row of figures, and what was wrong."""
    folder = temporary_folder(f"inbox_bench_{database.lower()}_")
    try:
        copy_seconds = copy_baseline(os.path.join(folder, "copy"), blobs, clients)
        uploads = [Upload(i, blob) for i, blob in enumerate(blobs)]
        if database == "PostgreSQL":
            with PrivatePostgres(os.path.join(folder, "postgres"), durable=True) as cluster:
                return run_service(folder, cluster.address(), archives_in, uploads, copy_seconds, clients,
                                   processes)
        return run_service(folder, "", archives_in, uploads, copy_seconds, clients, processes)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run_service(folder, database, archives_in, uploads, copy_seconds, clients, processes):
    with InboxService(os.path.join(folder, "service"), database=database,
                      settings=f"archives = {archives_in}\nthreads = 16\nprocesses = {processes}") as inbox:
        wall = upload_batch(inbox, uploads, clients)
        problems = integrity_problems(inbox, uploads)
        if problems:
            problems.append("the service's log ends:\n" + "\n".join(inbox.log().splitlines()[-20:]))
    latencies = [u.seconds * 1000 for u in uploads]
    row = (len(uploads), sum(len(u.archive) for u in uploads) / MB, len(uploads) / wall,
           statistics.median(latencies), p99(latencies), len(uploads) / copy_seconds)
    return row, problems


def print_table(rows):
    print(f"{'store':<33} {'reports':>7} {'MB':>6} {'reports/s':>10} {'median ms':>10} {'p99 ms':>8} "
          f"{'copy files/s':>13} {'of copy':>8}")
    for name, (count, megabytes, rate, median, slowest, copy_rate) in rows:
        print(f"{name:<33} {count:>7} {megabytes:>6.0f} {rate:>10.1f} {median:>10.0f} {slowest:>8.0f} "
              f"{copy_rate:>13.1f} {rate / copy_rate:>8.0%}")
    print(BASELINE)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--reports", type=int, default=2000)
    parser.add_argument("--size-kb", type=float, default=150)
    parser.add_argument("--clients", type=int, default=64)
    parser.add_argument("--processes", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    if args.reports < 1 or args.size_kb <= 0 or args.clients < 1 or args.processes < 1:
        parser.error("--reports, --size-kb, --clients and --processes must be greater than 0")

    blobs = build_archives(args.reports, args.size_kb)
    rows, failed = [], False
    for database, archives_in in STORES:
        name = f"{database}, archives in {archives_in}"
        row, problems = measure(database, archives_in, blobs, args.clients, args.processes)
        rows.append((name, row))
        for problem in problems:
            print(f"{name}: {problem}", file=sys.stderr)
        failed = failed or bool(problems)
    print_table(rows)
    print(f"{args.clients} clients, {args.processes} inbox process(es) of 16 threads, {os.cpu_count()} cores")
    if failed:
        print("FAILED: the inbox lost, refused or altered reports (see above)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
