#!/usr/bin/env python3
"""gdserver's figures on this machine, in one run:

  1. reports per second stored by gdserver (SQLite) against nginx answering
     the same GETs with its access log as the only storage (wrk, keep-alive,
     each request with its own mid); the ratio gdserver / nginx
  2. with --postgres CONNINFO, the same for gdserver on PostgreSQL
  3. the dashboard's time with a million reports stored (all games, one game,
     /api/funnel), the median of five requests each

Usage: bench/gdserver/run_bench.py [--gdserver PATH] [--seconds N] [--connections N] [--rounds N]
                                   [--postgres CONNINFO] [--rows N]
Needs wrk and nginx (apt-get install wrk nginx; this script installs wrk when
it is missing). The load average is printed with the figures: on a shared
machine they move with it.
"""
import argparse
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import gdserver_proc  # noqa: E402

KEY = "{3C5E7A19-2B4D-4F60-8A1C-9E0D7B6F5A42}"

WRK_SCRIPT = """
counter = 0
request = function()
  counter = counter + 1
  return wrk.format("GET", "/s.php?action=2&tg=1&game=%s&mid=" .. string.format("%%x%%08x", math.random(0, 1000000), counter) .. "&ver=1.1.0.1010")
end
""" % KEY

NGINX_CONF = """
worker_processes auto;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log;
events {{ worker_connections 1024; }}
http {{
  access_log {work}/access.log;
  client_body_temp_path {work}/tmp; proxy_temp_path {work}/tmp; fastcgi_temp_path {work}/tmp;
  uwsgi_temp_path {work}/tmp; scgi_temp_path {work}/tmp;
  server {{
    listen 127.0.0.1:{port};
    location = /s.php {{ default_type text/plain; return 200 "ok\\n"; }}
  }}
}}
"""


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def load():
    return open("/proc/loadavg").read().split()[0]


def wrk(port, seconds, connections, script):
    out = subprocess.run(["wrk", "-t2", "-c%d" % connections, "-d%ds" % seconds, "-s", script,
                          "http://127.0.0.1:%d/s.php" % port], stdout=subprocess.PIPE, check=True).stdout.decode()
    requests = int(re.search(r"(\d+) requests in", out).group(1))
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    errors = re.search(r"Socket errors: (.*)", out)
    return requests, int(non2xx.group(1)) if non2xx else 0, errors.group(1) if errors else ""


def bench_nginx(work, args, script):
    port = free_port()
    if os.path.exists(os.path.join(work, "access.log")):
        os.remove(os.path.join(work, "access.log"))
    os.makedirs(os.path.join(work, "tmp"), exist_ok=True)
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(work=work, port=port))
    subprocess.run(["nginx", "-c", conf, "-p", work], check=True)
    try:
        time.sleep(0.5)
        requests, bad, errors = wrk(port, args.seconds, args.connections, script)
    finally:
        subprocess.run(["nginx", "-c", conf, "-p", work, "-s", "stop"])
        time.sleep(0.5)
    with open(os.path.join(work, "access.log"), "rb") as f:
        logged = sum(1 for _ in f)
    return requests, bad, errors, logged


def start_gdserver(binary, db, work, name):
    try:
        server = gdserver_proc.GdserverProc(binary, db, os.path.join(work, name + ".log"),
                                            journal=os.path.join(work, name + ".incoming"))
    except gdserver_proc.GdserverFailed as e:
        raise SystemExit(str(e))
    return server.proc, server.port


def stop(proc):
    proc.terminate()
    proc.wait(60)


def count_stored(db):
    if db.startswith("postgres"):
        out = subprocess.run(["psql", "-X", "-At", db, "-c", "SELECT COUNT(*) FROM reports"],
                             stdout=subprocess.PIPE, check=True).stdout
        return int(out)
    with sqlite3.connect(db) as c:
        return c.execute("SELECT COUNT(*) FROM reports").fetchone()[0]


def bench_gdserver(binary, db, work, args, script, name):
    """Rows in the database when wrk ends (what was stored during the run,
    not counting what the journal still held), and after the stop."""
    proc, port = start_gdserver(binary, db, work, name)
    try:
        before = count_stored(db)
        requests, bad, errors = wrk(port, args.seconds, args.connections, script)
        during = count_stored(db) - before
    finally:
        stop(proc)
    return requests, bad, errors, during, count_stored(db) - before


def fill(db, rows):
    """A million reports as many players would send them: most open the
    downloader, fewer start, fewer finish, some fail, over 30 days, 5 games."""
    rng = random.Random(7)
    games = [KEY] + ["{%08X-0000-4000-8000-%012X}" % (i, i) for i in range(1, 5)]
    now = int(time.time() * 1000)
    con = sqlite3.connect(db)
    con.execute("PRAGMA journal_mode=WAL")
    con.executemany("INSERT INTO games (no, game) VALUES (?, ?)", [(n + 1, g) for n, g in enumerate(games)])
    batch = []
    made = 0
    player = 0
    while made < rows:
        player += 1
        mid = "%016x" % rng.getrandbits(64)
        game = games[min(int(rng.expovariate(1.2)), 4)]
        ver = rng.choice(["1.1.0.1010"] * 6 + ["1.1.0.1008"] * 3 + ["1.0.9.990"])
        t = now - rng.randrange(30 * 86400000)
        events = [("1", None, None, None)]
        if rng.random() < 0.8:
            events.append(("2", "1" if rng.random() < 0.7 else "0", None, None))
            for _ in range(rng.choice([0, 0, 1, 2])):
                events += [("3", None, None, None), ("4", None, None, None)]
            r = rng.random()
            if r < 0.7:
                events.append(("5", None, "1", None))
            elif r < 0.9:
                events.append(("5", None, "0", rng.choice(["2", "3", "4", "4"])))
        for action, tg, cg, cwdm in events:
            t += rng.randrange(1000, 600000)
            q = "action=" + action + ("&tg=" + tg if tg else "") + ("&cg=" + cg if cg else "") + \
                ("&cwdm=" + cwdm if cwdm else "") + "&game=%s&mid=%s&ver=%s" % (game, mid, ver)
            batch.append((t, t // 86400000, "10.0.%d.%d" % (player % 250, player % 200), "/s.php", q,
                          action, tg, cg, cwdm, game, mid, ver, 0, games.index(game) + 1))
            made += 1
        if len(batch) >= 50000:
            con.executemany("INSERT INTO reports VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)", batch)
            con.commit()
            batch = []
    if batch:
        con.executemany("INSERT INTO reports VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)", batch)
        con.commit()
    con.close()
    return player


def timed_get(url, times=5):
    """The server answers figures again while no report came since it counted
    them: a report before each GET makes it count them every time."""
    spent = []
    base = url.split("/", 3)
    for n in range(times):
        report = "%s//%s/s.php?action=1&game=%s&mid=timing%d&ver=1.1.0.1010" % (base[0], base[2], KEY, n)
        with urllib.request.urlopen(report, timeout=120) as res:
            res.read()
        start = time.perf_counter()
        with urllib.request.urlopen(url, timeout=120) as res:
            res.read()
        spent.append(time.perf_counter() - start)
    return sorted(spent)[len(spent) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gdserver", default=os.path.join(ROOT, "build", "native", "bin", "gdserver"))
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--connections", type=int, default=32)
    parser.add_argument("--postgres")
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--work")
    args = parser.parse_args()
    if not shutil.which("wrk"):
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "wrk"], check=True)
    work = args.work or tempfile.mkdtemp(prefix="gdserver-bench-")
    script = os.path.join(work, "reports.lua")
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    print("load average at start: %s; %d s per run, %d connections, wrk -t2" % (load(), args.seconds, args.connections))

    # nginx and gdserver take turns, so that both meet the same moments of a
    # shared machine; each round prints its own ratio.
    for round_ in range(1, args.rounds + 1):
        n_req, n_bad, n_err, n_logged = bench_nginx(work, args, script)
        nginx_rate = n_logged / args.seconds
        print("round %d nginx (access log):  %8.0f requests/s logged (%d answered, %d non-2xx, %d log lines%s)" % (
            round_, nginx_rate, n_req, n_bad, n_logged, ", socket errors " + n_err if n_err else ""))
        db = os.path.join(work, "bench%d.sqlite" % round_)
        g_req, g_bad, g_err, g_during, g_after = bench_gdserver(args.gdserver, db, work, args, script, "sqlite%d" % round_)
        sqlite_rate = g_during / args.seconds
        print("round %d gdserver (SQLite):   %8.0f reports/s stored during the run (%d answered, %d non-2xx, "
              "%d stored by the end of the run, %d after the stop%s)" % (
                  round_, sqlite_rate, g_req, g_bad, g_during, g_after, ", socket errors " + g_err if g_err else ""))
        print("round %d ratio gdserver SQLite / nginx: %.2f" % (round_, sqlite_rate / nginx_rate))
        if args.postgres:
            p_req, p_bad, p_err, p_during, p_after = bench_gdserver(args.gdserver, args.postgres, work, args, script,
                                                                    "pg%d" % round_)
            print("round %d gdserver (PostgreSQL): %6.0f reports/s stored during the run (%d answered, %d non-2xx, "
                  "%d after the stop%s)" % (round_, p_during / args.seconds, p_req, p_bad, p_after,
                                            ", socket errors " + p_err if p_err else ""))
            print("round %d ratio gdserver PostgreSQL / nginx: %.2f" % (round_, p_during / args.seconds / nginx_rate))

    big = os.path.join(work, "million.sqlite")
    if os.path.exists(big):
        os.remove(big)
    proc, port = start_gdserver(args.gdserver, big, work, "million-schema")  # makes the schema
    stop(proc)
    start = time.time()
    players = fill(big, args.rows)
    print("filled %d reports of %d players in %.0f s" % (count_stored(big), players, time.time() - start))
    proc, port = start_gdserver(args.gdserver, big, work, "million")
    try:
        base = "http://127.0.0.1:%d" % port
        for label, path in [("dashboard, all games", "/dashboard"),
                            ("dashboard, one game", "/dashboard?game=" + urllib.request.quote(KEY)),
                            ("/api/funnel, one game", "/api/funnel?game=" + urllib.request.quote(KEY)),
                            ("/api/funnel, all games", "/api/funnel")]:
            print("%-24s %6.3f s (median of 5, each counted anew, %d reports stored)" % (
                label, timed_get(base + path), args.rows))
    finally:
        stop(proc)
    print("load average at end: %s" % load())
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
