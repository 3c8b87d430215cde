#!/usr/bin/env python3
"""Times the exports on a synthetic history against two baselines and prints the table.

Usage: benchmark/bench.py [--scales 1] [--runs 3] [--build build/release] [--output DIR] [--disk DIR]
                          [--shared-files-only]
A scale of 1 is 2,000 contacts, 300 group conversations and 2,000,000 messages. The database's
messages lie in order of arrival, all conversations interleaved, as a client writes them; one more
row measures the same history laid out conversation by conversation, and two read it from three
slices (two main.db and an export) as one.
"""
import argparse
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def measure(command, env=None, stdout=None):
    """Runs a command; returns (wall seconds, peak KiB of the process, its standard output)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=stdout or subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    out = process.stdout.read().decode() if process.stdout else ""
    err = process.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), err))
    return wall, usage.ru_maxrss, out


def median_of(runs, fn):
    results = [fn() for _ in range(runs)]
    return statistics.median(r[0] for r in results), max(r[1] for r in results)


def history(build, scale, folder):
    os.makedirs(folder, exist_ok=True)
    if not os.path.exists(os.path.join(folder, "done")):
        synth = os.path.join(build, "tools/synthhistory/parlorix-synth")
        sizes = ["--seed", "1", "--contacts", str(round(2000 * scale)), "--groups", str(round(300 * scale)),
                 "--messages", str(round(2000000 * scale))]
        subprocess.run([synth, *sizes, "--db", os.path.join(folder, "main.db"), "--tar",
                        os.path.join(folder, "export.tar"), "--json", os.path.join(folder, "messages.json")],
                       check=True)
        subprocess.run([synth, *sizes, "--no-index", "--db", os.path.join(folder, "noindex.db")], check=True)
        subprocess.run([synth, *sizes, "--grouped", "--db", os.path.join(folder, "grouped.db")], check=True)
        # The same history cut in three, as two computers' main.db and the export hold it (each piece is
        # written both ways; the rows read slice.1.db, slice.2.db and slice.3.tar).
        subprocess.run([synth, *sizes, "--slices", "3", "--db", os.path.join(folder, "slice.db"), "--tar",
                        os.path.join(folder, "slice.tar")], check=True)
        open(os.path.join(folder, "done"), "w").close()
    return folder


def handler(build, operation, source, scratch):
    """Times one handler in the real window; the harness reports the handler's own time."""
    def run():
        out = tempfile.mkdtemp(dir=scratch)
        env = dict(os.environ, PARLORIX_SKYPE_DATA=source, QT_QPA_PLATFORM="offscreen")
        _, _, printed = measure([os.path.join(build, "benchmark/parlorix-bench"), operation, out], env=env)
        shutil.rmtree(out)
        seconds, peak, _rows = printed.split()
        return float(seconds), int(peak)
    return run


def command_line(build, source, scratch, extra=()):
    """Times parlorix-cli's export run as a script runs it: the whole process, from its start to its
    exit (opening the history and listing the contacts included), transcripts into a new folder.
    `source`: a path, or a list of them read as one."""
    sources = [source] if isinstance(source, str) else source
    def run():
        out = tempfile.mkdtemp(dir=scratch)
        histories = [argument for path in sources for argument in ("--history", path)]
        wall, peak, _ = measure([os.path.join(build, "parlorix-cli"), "export", *histories, "--out", out,
                                 "--quiet", *extra])
        shutil.rmtree(out)
        return wall, peak
    return run


def group_share(db):
    """The share of the messages that lie in group chats."""
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        total, = connection.execute("SELECT COUNT(*) FROM Messages").fetchone()
        groups, = connection.execute("SELECT COUNT(*) FROM Messages WHERE convo_id IN "
                                     "(SELECT id FROM Conversations WHERE type = 2)").fetchone()
    return groups / total if total else 0.0


def baseline_sqlite(db, scratch):
    def run():
        with open(os.path.join(scratch, "b1.txt"), "w") as out:
            wall, peak, _ = measure(["sqlite3", db, "SELECT from_dispname || ': ' || body_xml FROM Messages "
                                     "ORDER BY convo_id, timestamp DESC, id DESC"], stdout=out)
        return wall, peak
    return run


def floor_sqlite(db):
    """One pass over Messages in the order its rows lie, every column the exports use read by SQLite's
    own machine and nothing written: what no export of main.db can go below."""
    def run():
        wall, peak, _ = measure(["sqlite3", db, "SELECT MAX(convo_id), MAX(timestamp), MAX(id), MAX(type), "
                                 "MAX(from_dispname), MAX(author), MAX(body_xml) FROM Messages NOT INDEXED"])
        return wall, peak
    return run


def baseline_python(json_path, scratch):
    def run():
        wall, peak, _ = measure([sys.executable, os.path.join(ROOT, "benchmark/baseline_export.py"), json_path,
                                 os.path.join(scratch, "b2.txt")])
        return wall, peak
    return run


def shared_files(build, disk, runs):
    """Times saving the shared files of an export with files (a few hundred, some of tens of MB, about
    270 MB) against extracting the same members with tar on the same disk, both flushed to the disk as
    they are written: the export run with --group-chats and --shared-files, less the same run without
    them, all transcripts into a new folder on the disk."""
    folder = os.path.join(ROOT, "build/bench/shared-files")
    media_tar = os.path.join(folder, "export.tar")
    os.makedirs(folder, exist_ok=True)
    if not os.path.exists(os.path.join(folder, "done")):
        subprocess.run([os.path.join(build, "tools/synthhistory/parlorix-synth"), "--seed", "1", "--contacts", "200",
                        "--groups", "30", "--messages", "20000", "--media", "--tar", media_tar], check=True)
        open(os.path.join(folder, "done"), "w").close()
    listed = subprocess.run(["tar", "-tf", media_tar], check=True, capture_output=True, text=True).stdout.split()
    members = [name for name in listed if name.startswith("media/") and ".1." in name]

    def cli(extra):
        def run():
            out = tempfile.mkdtemp(dir=disk)
            wall, peak, _ = measure([os.path.join(build, "parlorix-cli"), "export", "--history", media_tar, "--out",
                                     out, "--group-chats", "--quiet", *extra])
            shutil.rmtree(out)
            return wall, peak
        return run

    def extract():
        out = tempfile.mkdtemp(dir=disk)
        start = time.perf_counter()
        subprocess.run(["tar", "-xf", media_tar, "-C", out, *members], check=True)
        for name in members:
            descriptor = os.open(os.path.join(out, name), os.O_RDONLY)
            os.fsync(descriptor)
            os.close(descriptor)
        wall = time.perf_counter() - start
        shutil.rmtree(out)
        return wall, 0

    size = os.path.getsize(media_tar)
    without = median_of(runs, cli([]))
    with_files = median_of(runs, cli(["--shared-files"]))
    tar = median_of(runs, extract)
    saving = with_files[0] - without[0]
    print("\nshared files: %d files from an export .tar of %.0f MiB, on the disk (%s), median of %d runs" %
          (len(members), size / 2**20, disk, runs))
    print("%-44s %9s %9s" % ("operation", "wall s", "peak MiB"))
    print("%-44s %9.2f %9.0f" % ("parlorix-cli export --group-chats", without[0], without[1] / 1024))
    print("%-44s %9.2f %9.0f" % ("the same with --shared-files", with_files[0], with_files[1] / 1024))
    print("%-44s %9.2f" % ("tar -x of the same members, each fsync'ed", tar[0]))
    print("saving them: %.2f s, %.2f x tar (target <= 1.3 x)" % (saving, saving / tar[0]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scales", default="1", help="comma-separated sizes; 1 = 2,000,000 messages")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/release"))
    parser.add_argument("--output", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                        help="where the transcripts go (default: memory, so that the disk's own file "
                             "creation costs do not blur the figures)")
    parser.add_argument("--disk", default=os.path.join(ROOT, "build/bench"),
                        help="a folder on disk, for the row that writes the transcripts where users do")
    parser.add_argument("--shared-files-only", action="store_true",
                        help="only the row of the shared files saved from an export with files")
    parser.add_argument("--no-baselines", action="store_true",
                        help="leave B1 and B2 out (at 10 x the size B2 needs more memory than the machine has); "
                             "the exports are then timed against the floor alone")
    args = parser.parse_args()

    per_message = {}
    os.makedirs(args.disk, exist_ok=True)
    if args.shared_files_only:
        shared_files(args.build, args.disk, args.runs)
        return
    for scale in [float(s) for s in args.scales.split(",")]:
        folder = history(args.build, scale, os.path.join(ROOT, "build/bench/arrival-scale-%g" % scale))
        scratch = tempfile.mkdtemp(prefix="parlorix-bench-", dir=args.output or folder)
        on_disk = tempfile.mkdtemp(prefix="parlorix-bench-", dir=args.disk)
        db = os.path.join(folder, "main.db")
        tar = os.path.join(folder, "export.tar")
        json_path = os.path.join(folder, "messages.json")
        json_mib = os.path.getsize(json_path) / 2**20
        slices = [os.path.join(folder, name) for name in ("slice.1.db", "slice.2.db", "slice.3.tar")]
        messages = round(2000000 * scale)
        # A short run is at the mercy of the machine's moments: below the full size, each row is the
        # median of three times as many runs.
        runs = args.runs if scale >= 1 else 3 * args.runs

        if args.no_baselines:
            b1 = b1_grouped = b2 = None
        else:
            b1 = median_of(runs, baseline_sqlite(db, scratch))
            b1_grouped = median_of(runs, baseline_sqlite(os.path.join(folder, "grouped.db"), scratch))
            b2 = median_of(runs, baseline_python(json_path, scratch))
        floor = median_of(runs, floor_sqlite(db))
        rows = [
            ("floor: one pass, no output", "main.db", floor_sqlite(db), b1, ""),
            ("export run", "main.db", handler(args.build, "export", db, scratch), b1, "<= 0.45 x B1, <= 200 MiB"),
            ("export run", "export .tar", handler(args.build, "export", tar, scratch), b2,
             "<= 0.15 x B2, <= 256 MiB"),
            ("older export, Export All", "main.db", handler(args.build, "legacy-all", db, scratch), b1,
             "<= 0.5 x B1, <= 200 MiB"),
            ("older export, Date Range", "main.db", handler(args.build, "legacy-range", db, scratch), b1,
             "<= 0.5 x B1, <= 200 MiB"),
            ("contact listing", "main.db", handler(args.build, "list", db, scratch), b1, "<= 0.5 s"),
            ("contact listing", "export .tar", handler(args.build, "list", tar, scratch), None,
             "<= 0.3 x export run from the .tar"),
            ("export run, no index", "main.db", handler(args.build, "export", os.path.join(folder, "noindex.db"),
                                                        scratch), b1, "<= 3 x the indexed run"),
            ("export run, on disk", "main.db", handler(args.build, "export", db, on_disk), b1, ""),
            ("export run, grouped", "main.db", handler(args.build, "export", os.path.join(folder, "grouped.db"),
                                                       scratch), b1_grouped, ""),
            ("parlorix-cli export", "main.db", command_line(args.build, db, scratch), b1,
             "<= the window's listing and run"),
            ("parlorix-cli export", "export .tar", command_line(args.build, tar, scratch), b2,
             "<= the window's listing and run"),
            ("cli --group-chats", "main.db", command_line(args.build, db, scratch, ["--group-chats"]), b1,
             "groups <= their share"),
            ("cli --group-chats", "export .tar", command_line(args.build, tar, scratch, ["--group-chats"]), b2,
             "groups <= their share"),
            ("export run, 3 slices", "2 db + .tar", handler(args.build, "export", os.pathsep.join(slices), scratch),
             b1, "<= 1.6 x the whole, <= 200 MiB"),
            ("parlorix-cli, 3 slices", "2 db + .tar", command_line(args.build, slices, scratch), b1,
             "<= 1.6 x the whole"),
        ]
        share = group_share(db)
        print("\n%d messages (scale %g), messages.json %.0f MiB, median of %d runs, transcripts in %s" %
              (messages, scale, json_mib, runs, args.output or folder))
        if b1:
            print("B1 sqlite3 shell: %.2f s, %.0f MiB (grouped layout: %.2f s)    B2 Python json: %.2f s, %.0f MiB" %
                  (b1[0], b1[1] / 1024, b1_grouped[0], b2[0], b2[1] / 1024))
        print("floor: one pass over Messages reading every column the exports use, nothing written: %.2f s" %
              floor[0])
        print("parlorix-cli rows: the whole process (opening and listing included) against the window's listing "
              "and export run, each handler alone; --group-chats: time added / the groups' share of the messages")
        print("%-26s %-12s %9s %8s %8s %9s %12s  %s" % ("operation", "source", "wall s", "ratio", "x floor",
                                                        "peak MiB", "us/message", "target"))
        results = {}
        # The baselines' own cost per message, for the spread across sizes that the machine causes.
        if b1:
            per_message.setdefault(("B1 sqlite3 shell", "main.db"), []).append((scale, b1[0] / messages * 1e6))
            per_message.setdefault(("B2 Python json", "messages.json"), []).append((scale, b2[0] / messages * 1e6))
        for name, source, run, base, target in rows:
            wall, peak = median_of(runs, run)
            results[(name, source)] = wall
            ratio = "%.2f x %s" % (wall / base[0], "B2" if base is b2 else "B1") if base else ""
            if name == "contact listing" and source == "export .tar":
                ratio = "%.2f x run" % (wall / results[("export run", "export .tar")])
            if name == "export run, no index":
                ratio = "%.2f x idx" % (wall / results[("export run", "main.db")])
            if name == "parlorix-cli export":
                # The window's user lists the contacts, then exports: the CLI does both in one process.
                ratio = "%.2f x win" % (wall / (results[("contact listing", source)] +
                                                results[("export run", source)]))
            if name == "export run, 3 slices":
                # The same history read from its three pieces, against it whole in one main.db.
                ratio = "%.2f x whole" % (wall / results[("export run", "main.db")])
            if name == "parlorix-cli, 3 slices":
                ratio = "%.2f x whole" % (wall / results[("parlorix-cli export", "main.db")])
            if name == "cli --group-chats":
                # What the groups add to the CLI's run, against their share of the messages.
                added = wall / results[("parlorix-cli export", source)] - 1
                ratio = "%+.0f%%/%.0f%%" % (100 * added, 100 * share)
            print("%-26s %-12s %9.2f %8s %8.2f %9.0f %12.2f  %s" % (name, source, wall, ratio, wall / floor[0],
                                                                   peak / 1024, wall / messages * 1e6, target))
            per_message.setdefault((name, source), []).append((scale, wall / messages * 1e6))
        shutil.rmtree(scratch)
        shutil.rmtree(on_disk)

    shared_files(args.build, args.disk, args.runs)

    print("\nthe markup conversion alone, and on hostile bodies:")
    subprocess.run([os.path.join(args.build, "benchmark/parlorix-bench-markup")], check=True)

    if len(per_message) and len(next(iter(per_message.values()))) > 1:
        print("\ncost per message (us) by scale, and the spread from the cheapest:")
        for (name, source), values in per_message.items():
            costs = [c for _, c in values]
            print("%-26s %-12s %s   spread %.0f %%" % (name, source, "  ".join("%g: %.2f" % v for v in values),
                                                     100 * (max(costs) / min(costs) - 1)))


if __name__ == "__main__":
    main()
