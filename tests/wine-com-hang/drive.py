#!/usr/bin/env python3
"""Loops the reproduction client against its server in one private prefix and
catches hangs.

  ./drive.py --prefix p1 --runs 5000 [--rounds 1] [--timeout 15]
             [--regcls single|multi] [--exit-ms 100] [--watch 0|1] [--sta 0|1]

Each batch starts one fresh client process (`wine bin/client.exe ROUNDS`),
as the kit starts the tool once per run; --rounds > 1 loops inside one
process instead. A batch is hung when neither the client's nor the server's
log has grown for --timeout seconds. Then every thread of every process in
the prefix is back-traced with winedbg (twice, 5 s apart), the logs are kept
in runs/PREFIX/hang-N/, the prefix's wineserver is stopped and started afresh,
and the loop goes on. One line per batch goes to runs/PREFIX/results.tsv.
"""
import argparse, os, shutil, signal, subprocess, sys, time

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
    ap.add_argument("--sta", default="0")
    ap.add_argument("--tag", default="")
    ap.add_argument("--stop-after-hangs", type=int, default=0)
    ap.add_argument("--cpu", default="", help="run the client (and the server it starts) on these CPUs (taskset -c)")
    ap.add_argument("--winedebug", default="-all")
    ap.add_argument("--pause", type=float, default=0, help="seconds between batches (a server that serves a whole batch ends after it)")
    ap.add_argument("--env", action="append", default=[], help="K=V for client and server (REPRO_SPIN=1 ...)")
    ap.add_argument("--cls", type=int, default=1, help="class 0-3: one per loop sharing a prefix")
    ap.add_argument("--restart", action="store_true",
                    help="restart the prefix's wineserver after a hang or failure (only with one loop per prefix)")
    a = ap.parse_args()

    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update(WINEPREFIX=f"{HERE}/prefix-{a.prefix}", WINEARCH="win64", WINEDEBUG=a.winedebug,
               WINEDLLOVERRIDES="mscoree,mshtml=", REPRO_REGCLS=a.regcls, REPRO_EXIT_MS=a.exit_ms,
               REPRO_WATCH=a.watch, REPRO_STA=a.sta,
               REPRO_CLASS=str(a.cls))
    for kv in a.env:
        k, v = kv.split("=", 1)
        env[k] = v
    out = f"{HERE}/runs/{a.prefix}-c{a.cls}{a.tag}"
    os.makedirs(out, exist_ok=True)
    cli_log, srv_log, stdout_path = f"{out}/cur.cli.log", f"{out}/cur.srv.log", f"{out}/cur.out"
    env.update(REPRO_CLILOG=winpath(cli_log), REPRO_SRVLOG=winpath(srv_log))
    dbg_cmds = f"{out}/dbgcmds.txt"
    with open(dbg_cmds, "w") as f:
        f.write("info process\ninfo threads\nbt all\ndetach\n")

    def restart_wine():
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

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
            subprocess.run(["wine", "taskkill", "/f", "/pid", str(pid)], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    results = open(f"{out}/results.tsv", "a")
    results.write(f"# {time.strftime('%F %T')} runs={a.runs} rounds={a.rounds} regcls={a.regcls} "
                  f"exit_ms={a.exit_ms} watch={a.watch} sta={a.sta} cls={a.cls} cpu={a.cpu} env={a.env}\n")
    results.flush()
    hangs = fails = 0
    started = time.time()
    for i in range(a.runs):
        for p in (cli_log, srv_log):
            if os.path.exists(p):
                os.remove(p)
        t0 = time.time()
        with open(stdout_path, "wb") as so:
            argv = ["wine", f"{HERE}/bin/client.exe", str(a.rounds)]
            if a.cpu:
                argv = ["taskset", "-c", a.cpu] + argv
            proc = subprocess.Popen(argv, env=env,
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
            pid = None
            with open(cli_log) as f:
                for line in f:
                    pid = int(line.split()[1])
                    break
            for shot in (1, 2):
                with open(f"{hd}/stacks-{shot}.txt", "w") as so:
                    so.write(f"# {time.strftime('%F %T')} client winpid {pid}\n")
                    so.flush()
                    subprocess.run(["wine", "winedbg", "--file", winpath(dbg_cmds), str(pid)], env=env,
                                   stdin=subprocess.DEVNULL, stdout=so, stderr=subprocess.STDOUT, timeout=120)
                if shot == 1:
                    time.sleep(5)
            for p in (cli_log, srv_log, stdout_path):
                if os.path.exists(p):
                    shutil.copy(p, hd)
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
                fd = f"{out}/fail-{i}"
                os.makedirs(fd, exist_ok=True)
                for p in (cli_log, srv_log, stdout_path):
                    if os.path.exists(p):
                        shutil.copy(p, fd)
                kill_server()
                if a.restart:
                    restart_wine()
        # Rounds far slower than usual, with how long they took (stalls
        # that ended by themselves before the time-out).
        slow = []
        if os.path.exists(stdout_path):
            limit = 3000 if a.regcls == "single" else 1000
            for line in open(stdout_path, errors="replace"):
                f = line.split()
                if len(f) >= 8 and f[0] == "round" and f[-1] == "ms" and int(f[-2]) > limit:
                    slow.append(f"{f[1]}:{f[-2]}")
        if slow:
            status += " slow=" + ",".join(slow)
        if a.pause:
            time.sleep(a.pause)
        results.write(f"{i}\t{status}\t{dt:.3f}\n")
        results.flush()
        if hung or (i + 1) % 100 == 0:
            el = time.time() - started
            print(f"[{a.prefix}-c{a.cls}{a.tag}] batch {i + 1}/{a.runs} rounds {a.rounds}: hangs {hangs} failures {fails} "
                  f"elapsed {el:.0f} s", flush=True)
        if a.stop_after_hangs and hangs >= a.stop_after_hangs:
            break
    print(f"[{a.prefix}-c{a.cls}{a.tag}] done: batches {i + 1} x {a.rounds} rounds, hangs {hangs}, failures {fails}, "
          f"{time.time() - started:.0f} s", flush=True)


if __name__ == "__main__":
    main()
