#!/usr/bin/env python3
"""Kills the programs at random instants while they write, and checks what
they leave behind.

Each round copies a prepared suite root (the demo root plus a large property
9: 800 owners, 400 concepts and stored lines), starts one program on the
copy, stops it, and then checks the copy: every data file opens (kitdata
export) and passes SQLite's integrity check, and what the program writes is
all old or all new: for a budget run the stored budget of property 9 and its
owners' receipts (never new receipts beside the old budget: the budget is
saved first), for an import the payments file, for a migration the whole
copy on the server. Then the same program runs again undisturbed and must
leave the new state (an import or migration already kept is refused then).

  scripts/crash_harness.py MODE [--rounds N] [--seed S]      kills at random delays
  scripts/crash_harness.py MODE --syscall NAME [--every K] [--first N]
                                     kills as the program makes the Nth call of NAME
                                     (strace), for every Kth call
  scripts/crash_harness.py MODE --disk-full root|tmp
                                     no kill: the root or KITTMP on a small file
                                     system filled but for 0 .. 512 KiB
  scripts/crash_harness.py MODE --server-fault restart|terminate [--rounds N]
                                     no kill: the server restarted at once, or its
                                     sessions ended, at a random instant

MODE: dialogue (repquota with a key script: property 9, one copy of each
listing, periodicity 1 into receipt slot 1), batch (repquota batch with the
same options), import (kitdata import of 40 000 payments), migrate (kitdata
migrate into a fresh schema). With KITDB set, each copy lives in a schema of
its own on that server (for example one started by
cmake/postgres_test_server.sh); --server-fault restarts it with pg_ctl as
the user postgres. Needs root for --disk-full (mount) and strace for
--syscall. --build DIR names the build (default build/release); --keep keeps
the scratch folder and a copy of every root found wrong.

Exit status 1 when any round found a wrong state.
"""
import argparse
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from collections import Counter

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)

# The large property, code 9 beside the demo's: this many owners sharing
# column A and this many concepts, so that its save and its receipt update
# take long enough to be hit in the middle.
EXTRA_OWNERS = 800
EXTRA_CONCEPTS = 400
# Payments the import mode adds.
BIG_IMPORT = 40000

# The dialogue: property 9, the budget as read, one copy of each listing,
# periodicity 1 into receipt slot 1, confirm, the receipt note, leave.
DIALOGUE_KEYS = "{Down}9{Ctrl+B}{Ctrl+B}1{Down}1{Down}1{Down}1{Ctrl+B}S{Enter}{Enter}{Esc}"


def concept_codes():
    letters = "0123456789QUVWXYZ"
    codes = []
    for a in letters:
        for b in "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ":
            codes.append(a + b)
    return codes[:EXTRA_CONCEPTS]


class Tools:
    def __init__(self, build):
        self.kitdata = os.path.join(build, "tools/kitdata/kitdata")
        self.repquota = os.path.join(build, "app/repquota")
        self.kitprint_dir = os.path.join(build, "tools/kitprint")

    def run_kitdata(self, *args, env=None, check=True):
        r = subprocess.run([self.kitdata, *args], capture_output=True, text=True, env=env)
        if check and r.returncode != 0:
            raise SystemExit(f"kitdata {' '.join(args)}: {r.returncode}\n{r.stderr}{r.stdout}")
        return r


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def prepare_root(tools, root):
    """The root as SQLite files, whatever KITDB says; copy_root moves each
    copy onto the server."""
    local = {k: v for k, v in os.environ.items() if k != "KITDB"}
    run_kitdata = lambda *args: tools.run_kitdata(*args, env=local)
    run_kitdata("init", root)
    run_kitdata("demo", root, "2024-11-15")
    tmp = os.path.join(root, "TMP")
    # A fixed working date, whatever day this runs.
    write(os.path.join(tmp, "VoraTerm.ini"),
          "[Pantalla]\r\nSeleccio=0\r\n[Sistema]\r\nData=20241115\r\nIdioma=CAT\r\n")
    data = os.path.join(root, "DADES")
    write(os.path.join(root, "property.csv"),
          "property,name,first_month,period_months,fee,rate_index\n0009,LARGE PROPERTY,1,12,6.50,0\n")
    run_kitdata("import", os.path.join(data, "FinquesH"), os.path.join(root, "property.csv"))
    owners = ["owner,name,department,coef_a,slot1_period,slot1_amount"]
    for n in range(1, 1 + EXTRA_OWNERS):
        owners.append(f"0009{n:04d},OWNER {n},FLAT {n},{1000000 // EXTRA_OWNERS},1,9.99")
    write(os.path.join(root, "owners.csv"), "\n".join(owners) + "\n")
    run_kitdata("import", os.path.join(data, "PropietH"), os.path.join(root, "owners.csv"))
    codes = concept_codes()
    write(os.path.join(root, "concepts.csv"),
          "concept,description\n" + "".join(f"{c},CONCEPT {c}\n" for c in codes))
    run_kitdata("import", os.path.join(data, "TDespesa"), os.path.join(root, "concepts.csv"))
    write(os.path.join(root, "payments.csv"),
          "property,date,concept,description,amount,kind,column\n" +
          "".join(f"0009,2024-03-{1 + i % 28:02d},{c},PAYMENT {c},{10 + i}.00,N,1\n" for i, c in enumerate(codes)))
    run_kitdata("import", os.path.join(data, "PagamH"), os.path.join(root, "payments.csv"))
    # Stored lines whose budgets the save will change.
    write(os.path.join(root, "stored.csv"),
          "property,concept,column,percent_thousandths,amount,budget\n" +
          "".join(f"0009,{c},A,0,1.00,{i}.99\n" for i, c in enumerate(codes)))
    run_kitdata("import", os.path.join(data, "PressupH"), os.path.join(root, "stored.csv"))
    # What the import mode adds: a year of payments of property 8.
    write(os.path.join(root, "big.csv"),
          "property,date,concept,description,amount,kind,column\n" +
          "".join(f"0008,2024-{1 + i % 12:02d}-{1 + i % 28:02d},{codes[i % len(codes)]},IMPORTED {i},{i % 500}.25,N,1\n"
                  for i in range(BIG_IMPORT)))


def environment(tools, root, keys=None):
    env = dict(os.environ)
    env.update({"KITROOT": root + "/", "KITTMP": os.path.join(root, "TMP") + "/",
                "KITEXE": tools.kitprint_dir + "/"})
    schema = os.path.join(root, "schema.txt")
    if env.get("KITDB") and os.path.exists(schema):
        with open(schema) as f:
            env["KITDB_SCHEMA"] = f.read().strip()
    if keys:
        env["KIT_KEYS"] = keys
        env["KIT_SCREEN"] = os.path.join(root, "screens.txt")
    return env


def on_server():
    return bool(os.environ.get("KITDB"))


def property_lines(text, prefix):
    return sorted(line for line in text.splitlines()[1:] if line.startswith(prefix))


DATA_FILES = ["CobramH", "FinDespH", "FinquesH", "PagamH", "PressupH", "PropietH", "TDespesa", "THRebut"]


def state_of(tools, mode, root):
    """The parts of the data a run of `mode` changes, as texts, or raises
    with what is wrong with the data files."""
    data = os.path.join(root, "DADES")
    problems = []
    exports = {}
    for base in DATA_FILES:
        path = os.path.join(data, base + ".dat")
        if not on_server():
            try:
                db = sqlite3.connect(path)
                verdict = db.execute("PRAGMA integrity_check").fetchone()[0]
                db.close()
            except sqlite3.Error as e:
                verdict = str(e)
            if verdict != "ok":
                problems.append(f"{base}: integrity_check: {verdict}")
        r = tools.run_kitdata("export", path[:-4], check=False, env=environment(tools, root))
        if r.returncode == 0:
            exports[base] = r.stdout
        elif mode == "migrate" and "status 12" in r.stderr:
            exports[base] = ""  # not copied (yet)
        else:
            problems.append(f"{base}: export: {r.stderr.strip()}")
    for name in os.listdir(data):
        if ".new" in name or name.endswith(".tmp"):
            problems.append(f"{name}: a half-made file left under DADES")
    if problems:
        raise RuntimeError("; ".join(problems))
    if mode == "import":
        return (exports["PagamH"],)
    if mode == "migrate":
        return ("".join(exports[b] for b in DATA_FILES),)
    return property_lines(exports["PressupH"], "0009,"), property_lines(exports["PropietH"], "0009")


def parts_named(mode):
    if mode == "import":
        return ("payments",)
    if mode == "migrate":
        return ("server copy",)
    return ("budget", "receipts")


def command_for(tools, mode, root):
    if mode == "dialogue":
        keys = os.path.join(root, "round.keys")
        write(keys, DIALOGUE_KEYS)
        return [tools.repquota], environment(tools, root, keys)
    if mode == "batch":
        out = os.path.join(root, "out")
        os.makedirs(out, exist_ok=True)
        return [tools.repquota, "batch", "--periodicity", "1", "--concept", "1", "--out", out, "9"], \
            environment(tools, root)
    if mode == "import":
        return [tools.kitdata, "import", os.path.join(root, "DADES", "PagamH"), os.path.join(root, "big.csv")], \
            environment(tools, root)
    if mode == "migrate":
        return [tools.kitdata, "migrate", root], environment(tools, root)
    raise SystemExit(f"unknown mode {mode}")


schemas = 0


def copy_root(tools, mode, pristine, work):
    """A copy of the prepared root at `work`; on a server, in a schema of
    its own (empty for migrate, which fills it)."""
    global schemas
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(pristine, work, symlinks=True)
    if on_server():
        schemas += 1
        write(os.path.join(work, "schema.txt"), f"crash_{os.getpid()}_{schemas}")
        if mode != "migrate":
            tools.run_kitdata("migrate", work, env=environment(tools, work))


def run_to_end(cmd, env):
    r = subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=300)
    return r


def judge(tools, mode, work, old, new):
    """(verdict, bad, whether everything is still old)."""
    try:
        state = state_of(tools, mode, work)
    except RuntimeError as e:
        return f"DAMAGED: {e}", True, False
    words = ["old" if part == o else "new" if part == n else "MIXED" for part, o, n in zip(state, old, new)]
    verdict = ", ".join(f"{name} {w}" for name, w in zip(parts_named(mode), words))
    # The receipts are written after the budget is saved: new receipts
    # beside the old budget would mean the order broke.
    bad = "MIXED" in words or (len(words) == 2 and words == ["old", "new"])
    return verdict, bad, all(w == "old" for w in words)


def cmd_in_copy(tools, mode, pristine, scratch):
    copy = os.path.join(scratch, "count")
    copy_root(tools, mode, pristine, copy)
    return command_for(tools, mode, copy)


def count_calls(command, syscall):
    cmd, env = command
    log = os.path.join(env["KITROOT"], "strace.log")
    subprocess.run(["strace", "-qq", "-o", log, "-e", f"trace={syscall}"] + cmd, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(log) as f:
        return sum(1 for line in f if line.startswith(syscall + "("))


def fill(folder, leave):
    """Fills the file system of `folder` but for about `leave` bytes."""
    filler = os.path.join(folder, "filler")
    fd = os.open(filler, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    try:
        while os.write(fd, b"\0" * 65536) > 0:
            pass
    except OSError:
        pass
    os.close(fd)
    st = os.statvfs(folder)
    free = st.f_bavail * st.f_frsize
    size = os.path.getsize(filler)
    os.truncate(filler, max(0, size + free - leave))


def message_lines(screens):
    """The lines of the screen dumps in `screens` that say something went wrong."""
    try:
        with open(screens, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return []
    words = ("NO S'HA", "NO ES POT", "ERROR", "space", "espai", "ESPAI")
    return sorted({line.strip(" ║│") for line in text.splitlines() if any(w in line for w in words)})


def disk_full(tools, mode, pristine, scratch, old, new, place, leaves):
    """Runs `mode` with its root (place "root") or its temporary folder
    (place "tmp") on a small file system filled but for each of `leaves`."""
    wrong = 0
    mount = os.path.join(scratch, "small")
    os.makedirs(mount, exist_ok=True)
    for leave in leaves:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", mount], check=True)
        try:
            if place == "root":
                work = os.path.join(mount, "root")
                copy_root(tools, mode, pristine, work)
                cmd, env = command_for(tools, mode, work)
                full = work
            else:
                work = os.path.join(scratch, "round")
                copy_root(tools, mode, pristine, work)
                shutil.copytree(os.path.join(pristine, "TMP"), os.path.join(mount, "TMP"))
                cmd, env = command_for(tools, mode, work)
                env["KITTMP"] = os.path.join(mount, "TMP") + "/"
                full = mount
            if mode == "dialogue":
                # Screens kept where a message may stand: before the first
                # key and after the confirmation.
                write(env["KIT_KEYS"], "{Snap}" + DIALOGUE_KEYS.replace("S{Enter}", "S{Enter}{Snap}"))
                # Kept off the full disk.
                env["KIT_SCREEN"] = os.path.join(scratch, "screens.txt")
                if os.path.exists(env["KIT_SCREEN"]):
                    os.remove(env["KIT_SCREEN"])
            fill(full, leave)
            r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=120)
            os.remove(os.path.join(full, "filler"))
            verdict, bad, _ = judge(tools, mode, work, old, new)
            left = sorted(n for n in os.listdir(env["KITTMP"]) if n not in ("Sessio.ini", "VoraTerm.ini"))
            said = message_lines(env.get("KIT_SCREEN", "")) + [line for line in r.stderr.splitlines() if line.strip()][-2:]
            if r.returncode == 0 and "old" in verdict:
                bad = True
                verdict += "; EXIT 0 WITHOUT THE NEW STATE"
            wrong += bad
            print(f"{place} full but {leave} bytes: exit {r.returncode}: {verdict}; left in TMP: {left}")
            for line in said:
                print(f"    {line[:150]}")
        finally:
            subprocess.run(["umount", mount], check=True)
    return wrong


SERVER_BIN = "/usr/lib/postgresql/15/bin"


def server_fault(kind, env):
    """The server restarted at once (its sessions and their transactions
    gone), or every session but ours ended by the administrator."""
    dsn = dict(part.split("=", 1) for part in env["KITDB"].split())
    if kind == "restart":
        subprocess.run(["runuser", "-u", "postgres", "--", f"{SERVER_BIN}/pg_ctl", "-D",
                        os.path.join(dsn["host"], "data"), "-m", "immediate", "-w", "restart"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    else:
        # Every client session but this one: run no other rounds on the server meanwhile.
        subprocess.run(["psql", "-X", "-q", "-h", dsn["host"], "-U", dsn.get("user", "postgres"),
                        "-d", dsn.get("dbname", "postgres"), "-c",
                        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                        "WHERE backend_type = 'client backend' AND pid <> pg_backend_pid()"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["dialogue", "batch", "import", "migrate"])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build/release"))
    parser.add_argument("--syscall", help="kill at calls of this system call instead of at random delays")
    parser.add_argument("--every", type=int, default=1, help="with --syscall: every how many calls")
    parser.add_argument("--first", type=int, default=1, help="with --syscall: the first call to kill at; "
                        "negative: counted back from the last")
    parser.add_argument("--server-fault", choices=["restart", "terminate"],
                        help="instead of a kill: restart the server (immediate) or end its sessions")
    parser.add_argument("--disk-full", choices=["root", "tmp"],
                        help="no kills: run on a small file system filled almost full")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--time-only", action="store_true", help="time one undisturbed run and stop")
    args = parser.parse_args()
    tools = Tools(args.build)
    rng = random.Random(args.seed)
    scratch = tempfile.mkdtemp(prefix="crash-")
    pristine = os.path.join(scratch, "pristine")
    prepare_root(tools, pristine)
    reference = os.path.join(scratch, "reference")
    copy_root(tools, args.mode, pristine, reference)
    old = state_of(tools, args.mode, reference)

    # The new state: one undisturbed run.
    cmd, env = command_for(tools, args.mode, reference)
    started = time.monotonic()
    r = run_to_end(cmd, env)
    took = time.monotonic() - started
    if r.returncode != 0:
        raise SystemExit(f"the undisturbed run failed ({r.returncode}):\n{r.stderr}")
    new = state_of(tools, args.mode, reference)
    print(f"undisturbed run: {took:.3f} s; " +
          ", ".join(f"{name}: {len(o.splitlines()) if isinstance(o, str) else len(o)} -> "
                    f"{len(n.splitlines()) if isinstance(n, str) else len(n)} lines"
                    for name, o, n in zip(parts_named(args.mode), old, new)))
    if any(o == n for o, n in zip(old, new)):
        raise SystemExit("the run changes nothing to tell apart")
    if args.time_only:
        return 0
    if args.disk_full:
        leaves = [0, 4096, 16384, 65536, 131072, 262144, 327680, 393216, 458752, 524288, 786432]
        wrong = disk_full(tools, args.mode, pristine, scratch, old, new, args.disk_full, leaves)
        print(f"{len(leaves)} runs, {wrong} wrong")
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)
        return 1 if wrong else 0

    # Kill instants: random delays, or the Nth call of one system call
    # (strace stops the program with SIGKILL as it makes that call).
    if args.syscall:
        calls = count_calls(cmd_in_copy(tools, args.mode, pristine, scratch), args.syscall)
        first = args.first if args.first > 0 else calls + 1 + args.first
        instants = list(range(max(1, first), calls + 1, args.every))
        print(f"{calls} calls of {args.syscall}; killing at every {args.every}th: {len(instants)} rounds")
    else:
        instants = [rng.uniform(0, took * 1.1) for _ in range(args.rounds)]

    seen = Counter()
    wrong = 0
    for n, instant in enumerate(instants):
        work = os.path.join(scratch, "round")
        copy_root(tools, args.mode, pristine, work)
        cmd, env = command_for(tools, args.mode, work)
        if args.server_fault:
            p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                 start_new_session=True)
            time.sleep(instant)
            killed = p.poll() is None
            server_fault(args.server_fault, env)
            try:
                _, err = p.communicate(timeout=120)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                _, err = p.communicate()
                err = "HUNG, killed after 120 s; " + err
            where = f"{args.server_fault} at {instant * 1000:.0f} ms, exit {p.returncode}"
            said = message_lines(env.get("KIT_SCREEN", "")) + [line for line in err.splitlines() if line.strip()][-2:]
            if said:
                where += " [" + " | ".join(line[:160] for line in said) + "]"
        elif args.syscall:
            cmd = ["strace", "-qq", "-o", "/dev/null", "-e", f"trace={args.syscall}",
                   "-e", f"inject={args.syscall}:signal=SIGKILL:when={instant}"] + cmd
            p = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            killed = p.returncode != 0
            where = f"{args.syscall} #{instant}"
        else:
            p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 start_new_session=True)
            time.sleep(instant)
            killed = p.poll() is None
            if killed:
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            where = f"{instant * 1000:.0f} ms"
        verdict, bad, all_old = judge(tools, args.mode, work, old, new)
        if args.server_fault and p.returncode == 0 and "old" in verdict:
            verdict += "; EXIT 0 WITHOUT THE NEW STATE"
            bad = True
        # A rerun must leave the new state; it must go through when nothing
        # had been kept (an import or migration already made is refused).
        if not bad:
            cmd, env = command_for(tools, args.mode, work)
            again = run_to_end(cmd, env)
            after = state_of(tools, args.mode, work)
            must_pass = all_old or args.mode in ("dialogue", "batch")
            if (must_pass and again.returncode != 0) or after != new:
                verdict += f"; RERUN FAILED ({again.returncode}): {again.stderr.strip()[:300]}"
                bad = True
            else:
                verdict += "; rerun ok"
        seen[verdict.split(";")[0] + (" (not killed)" if not killed else "")] += 1
        wrong += bad
        print(f"round {n + 1}: kill at {where}{'' if killed else ' (had ended)'}: {verdict}",
              flush=True)
        if bad and args.keep:
            keep = os.path.join(scratch, f"bad-{n + 1}")
            shutil.copytree(work, keep, symlinks=True)
            print(f"  kept in {keep}")
    print("states:", dict(seen))
    print(f"{len(instants)} rounds, {wrong} wrong")
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
