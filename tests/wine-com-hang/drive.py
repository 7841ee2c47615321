#!/usr/bin/env python3
"""Loops the reproduction client against its server in one private prefix and
catches hangs.

  ./drive.py --prefix p1 --runs 5000 [--rounds 1] [--timeout 15] [--regcls single|multi]
             [--exit-ms 100] [--watch 0|1] [--cls 0-3] [--restart]

Each batch starts one fresh client process (`wine bin/client.exe ROUNDS`),
as the kit starts the tool once per run; --rounds > 1 loops inside one
process instead. A batch is hung when neither the client's nor the server's
log has grown for --timeout seconds. Then every thread of every process in
the prefix is back-traced with winedbg (twice, 5 s apart), the logs are kept
in runs/PREFIX/hang-N/, the prefix's wineserver is stopped and started afresh,
and the loop goes on. One line per batch goes to runs/PREFIX/results.tsv.
Other settings (REPRO_PIN=1, REPRO_STA=1, WINEDEBUG ...) pass through the
environment to the client and the server it starts.
"""
import argparse, os, shutil, signal, subprocess, time

HERE = os.path.dirname(os.path.abspath(__file__))


def winpath(p):
    return "Z:" + p.replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", default="p1")
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=15)
    ap.add_argument("--regcls", default="single")
    ap.add_argument("--exit-ms", default="100")
    ap.add_argument("--watch", default="0")
    ap.add_argument("--cls", type=int, default=1, help="class 0-3: one per loop sharing a prefix")
    ap.add_argument("--restart", action="store_true",
                    help="restart the prefix's wineserver after a hang or failure (only with one loop per prefix)")
    a = ap.parse_args()

    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.setdefault("WINEDEBUG", "-all")
    env.update(WINEPREFIX=f"{HERE}/prefix-{a.prefix}", WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=",
               REPRO_REGCLS=a.regcls, REPRO_EXIT_MS=a.exit_ms, REPRO_WATCH=a.watch,
               REPRO_CLASS=str(a.cls))
    name = f"{a.prefix}-c{a.cls}"
    out = f"{HERE}/runs/{name}"
    os.makedirs(out, exist_ok=True)
    cli_log, srv_log, stdout_path = f"{out}/cur.cli.log", f"{out}/cur.srv.log", f"{out}/cur.out"
    env.update(REPRO_CLILOG=winpath(cli_log), REPRO_SRVLOG=winpath(srv_log))
    dbg_cmds = f"{out}/dbgcmds.txt"
    with open(dbg_cmds, "w") as f:
        f.write("info process\ninfo threads\nbt all\ndetach\n")

    def quiet(*argv, timeout=None):
        subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)

    def restart_wine():
        for argv in (["wineserver", "-k"], ["wineserver", "-w"], ["wineserver", "-p"], ["wine", "cmd", "/c", "exit"]):
            quiet(*argv)

    def keep(folder):
        os.makedirs(folder, exist_ok=True)
        for p in (cli_log, srv_log, stdout_path):
            if os.path.exists(p):
                shutil.copy(p, folder)

    def kill_server():
        """Ends this loop's last server, if it still runs, by its Windows pid.
        A server that watches its client ends by itself (and revokes its
        class: a server killed from outside leaves a stale registration)."""
        if not os.path.exists(srv_log) or a.watch == "1":
            time.sleep(2)
            return
        pids = set()
        with open(srv_log) as f:
            for line in f:
                pids.add(int(line.split()[1]))
        for pid in pids:
            quiet("wine", "taskkill", "/f", "/pid", str(pid), timeout=60)

    results = open(f"{out}/results.tsv", "a")
    results.write(f"# {time.strftime('%F %T')} runs={a.runs} rounds={a.rounds} regcls={a.regcls} "
                  f"exit_ms={a.exit_ms} watch={a.watch} cls={a.cls}\n")
    results.flush()
    hangs = fails = 0
    started = time.time()
    for i in range(a.runs):
        for p in (cli_log, srv_log):
            if os.path.exists(p):
                os.remove(p)
        t0 = time.time()
        with open(stdout_path, "wb") as so:
            proc = subprocess.Popen(["wine", f"{HERE}/bin/client.exe", str(a.rounds)], env=env,
                                    stdin=subprocess.DEVNULL, stdout=so, stderr=subprocess.STDOUT,
                                    start_new_session=True)
            last_size, last_change = -1, time.time()
            hung = False
            while proc.poll() is None:
                time.sleep(0.05)
                size = sum(os.path.getsize(p) for p in (cli_log, srv_log) if os.path.exists(p))
                if size != last_size:
                    last_size, last_change = size, time.time()
                elif time.time() - last_change > a.timeout:
                    hung = True
                    break
        dt = time.time() - t0
        if hung:
            hangs += 1
            hd = f"{out}/hang-{i}"
            os.makedirs(hd, exist_ok=True)
            with open(cli_log) as f:
                first = f.readline().split()
            pid = int(first[1]) if first else None
            for shot in (1, 2):
                with open(f"{hd}/stacks-{shot}.txt", "w") as so:
                    so.write(f"# {time.strftime('%F %T')} client winpid {pid}\n")
                    so.flush()
                    subprocess.run(["wine", "winedbg", "--file", winpath(dbg_cmds), str(pid)], env=env,
                                   stdin=subprocess.DEVNULL, stdout=so, stderr=subprocess.STDOUT, timeout=120)
                if shot == 1:
                    time.sleep(5)
            keep(hd)
            with open(f"{hd}/killed-at.txt", "w") as f:
                f.write(f"{int(time.time() * 1000)} client killed (SIGKILL of its process group)\n")
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            kill_server()
            # What the server did once its client was gone (watch=1: it ends itself).
            if os.path.exists(srv_log):
                shutil.copy(srv_log, f"{hd}/after-kill.srv.log")
            if a.restart:
                restart_wine()
            status = "HANG"
        else:
            rc = proc.returncode
            status = "ok" if rc == 0 else f"rc={rc}"
            if rc != 0:
                fails += 1
                keep(f"{out}/fail-{i}")
                kill_server()
                if a.restart:
                    restart_wine()
        results.write(f"{i}\t{status}\t{dt:.3f}\n")
        results.flush()
        if hung or (i + 1) % 100 == 0:
            el = time.time() - started
            print(f"[{name}] batch {i + 1}/{a.runs} rounds {a.rounds}: hangs {hangs} failures {fails} "
                  f"elapsed {el:.0f} s", flush=True)
    print(f"[{name}] done: batches {i + 1} x {a.rounds} rounds, hangs {hangs}, failures {fails}, "
          f"{time.time() - started:.0f} s", flush=True)


if __name__ == "__main__":
    main()
