#!/usr/bin/env python3
"""Bytes on the wire and update time with patches and compressed copies, on real release pairs.

For each pair of releases of real software (npm packages, fetched once with `npm pack` into the
cache folder; a pair that cannot be had is skipped), publishes the first and then the second
release three ways (plain copies only, compressed copies with --patches 0, and patches), installs
the first release beside a release build of Lodestar and updates it to the second from nginx on
127.0.0.1 through a link of 100 Mbit/s (nginx's limit_rate, one connection), checking the result
byte for byte. Beside it, in the same run, the anchors per changed file: zstd -19 --long=27,
zstd -19 --long=31 --patch-from, xdelta3 -9; and the client's CPU time against zstd -d
--patch-from of the same patches. Last, the time to publish a 1 GiB file and then a second
version of it with 5% changed. Prints a Markdown table.

Usage: release_pairs.py LODESTAR PUBLISH WORK_DIR CACHE_DIR
  BENCH_PAIRS_LIST  names of the pairs to run (default: all), e.g. "typescript esbuild"
  BENCH_BIG_MIB     size of the large file (default 1024; 0 skips it)
"""
import filecmp
import hashlib
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tarfile
import time

PAIRS = [
    ("typescript", "typescript", "5.8.2", "5.9.2", "JavaScript application"),
    ("esbuild", "@esbuild/linux-x64", "0.28.1", "0.28.2", "executable"),
    ("next-swc", "@next/swc-linux-x64-gnu", "16.4.4", "16.4.5", "101 MB library"),
]
LINK_RATE = "12500k"  # bytes per second: 100 Mbit/s


def log(text):
    print("pairs: " + text, file=sys.stderr, flush=True)


def run_measured(argv, **kwargs):
    """Runs argv; returns (wall s, CPU s, peak RSS MiB) of the child alone."""
    start = time.monotonic()
    child = subprocess.Popen(argv, **kwargs)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    if child.returncode != 0:
        raise RuntimeError("%s exited with %d" % (argv[0], child.returncode))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def fetch(cache, package, version):
    """The package's tarball from the cache folder, fetched with npm pack once; None if not had."""
    name = "%s-%s.tgz" % (package.replace("@", "").replace("/", "-"), version)
    path = os.path.join(cache, name)
    if os.path.exists(path):
        return path
    os.makedirs(cache, exist_ok=True)
    try:
        out = subprocess.run(["npm", "pack", "%s@%s" % (package, version), "--prefer-offline",
                              "--pack-destination", cache, "--silent"], capture_output=True,
                             text=True, timeout=600, check=True).stdout.split()
    except (OSError, subprocess.SubprocessError) as error:
        log("cannot fetch %s@%s (%s): skipped" % (package, version, error))
        return None
    os.rename(os.path.join(cache, out[-1]), path)
    return path


def unpack(tarball, into):
    with tarfile.open(tarball) as archive:
        archive.extractall(into, filter="data")
    return os.path.join(into, "package")


def files_of(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = path
    return found


def changed_files(old, new):
    """(relative path, old path or None, new path) of every file the update must bring."""
    before, after = files_of(old), files_of(new)
    return [(rel, before.get(rel), path) for rel, path in sorted(after.items())
            if rel not in before or not filecmp.cmp(before[rel], path, shallow=False)]


def size(path):
    return os.path.getsize(path)


def anchors(changed, scratch):
    """Bytes of zstd -19 --long=27, zstd -19 --long=31 --patch-from and xdelta3 -9 over changed."""
    sums = {"zstd": 0, "patch-from": 0, "xdelta3": 0}
    out = os.path.join(scratch, "anchor")
    for _, old, new in changed:
        subprocess.run(["zstd", "-q", "-f", "-19", "--long=27", new, "-o", out], check=True)
        sums["zstd"] += size(out)
        patch = ["--patch-from=" + old] if old else []
        subprocess.run(["zstd", "-q", "-f", "-19", "--long=31"] + patch + [new, "-o", out],
                       check=True, stderr=subprocess.DEVNULL)
        sums["patch-from"] += size(out)
        source = ["-s", old] if old else []
        subprocess.run(["xdelta3", "-q", "-f", "-9", "-e"] + source + [new, out], check=True)
        sums["xdelta3"] += size(out)
    os.remove(out)
    return sums


class Nginx:
    """nginx serving www on 127.0.0.1, every response limited to the link's rate, logging bytes."""

    def __init__(self, work):
        self.work = work
        sock = socket.socket()
        sock.bind(("127.0.0.1", 0))
        self.port = sock.getsockname()[1]
        sock.close()
        self.log = os.path.join(work, "nginx", "access.log")
        os.makedirs(os.path.join(work, "nginx", "tmp"), exist_ok=True)
        conf = os.path.join(work, "nginx", "nginx.conf")
        with open(conf, "w") as out:
            out.write("""daemon off; worker_processes 1; pid %(w)s/nginx/pid;
error_log %(w)s/nginx/error.log; events { worker_connections 64; }
http { log_format bytes '$uri $status $body_bytes_sent'; access_log %(w)s/nginx/access.log bytes;
  sendfile on; client_body_temp_path %(w)s/nginx/tmp; proxy_temp_path %(w)s/nginx/tmp;
  fastcgi_temp_path %(w)s/nginx/tmp; uwsgi_temp_path %(w)s/nginx/tmp;
  scgi_temp_path %(w)s/nginx/tmp; default_type application/octet-stream;
  server { listen 127.0.0.1:%(p)d; root %(w)s/www; limit_rate %(r)s; } }
""" % {"w": work, "p": self.port, "r": LINK_RATE})
        self.process = subprocess.Popen(["nginx", "-e", os.path.join(work, "nginx", "error.log"),
                                         "-p", os.path.join(work, "nginx"), "-c", conf])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not start")

    def served(self):
        """Bytes of the files served since the last call (the list and manifest left out)."""
        total = 0
        if os.path.exists(self.log):
            with open(self.log) as lines:
                for line in lines:
                    uri, _, sent = line.split()
                    if not uri.endswith(("/servers.txt", "/version.txt")):
                        total += int(sent)
            os.truncate(self.log, 0)
        return total

    def stop(self):
        self.process.terminate()
        self.process.wait()


def publish(tool, release, out, extra=()):
    wall, _, _ = run_measured([tool, "--quiet"] + list(extra) + [release, out],
                              stdout=subprocess.DEVNULL)
    return wall


def whole_only(out, into):
    """A view of a published folder whose manifest lists neither compressed copies nor patches."""
    os.makedirs(into)
    for name in os.listdir(out):
        if name != "version.txt":
            os.symlink(os.path.join(out, name), os.path.join(into, name))
    with open(os.path.join(out, "version.txt")) as text:
        manifest = text.read()
    manifest = re.sub(r',"p":\[[^\]]*\]', "", manifest)
    manifest = re.sub(r',"z":"\d+"', "", manifest)
    with open(os.path.join(into, "version.txt"), "w") as text:
        text.write(manifest)


def update(lodestar, nginx, folder, old, old_manifest, new, app):
    """Installs old with its manifest, updates it from www/folder; (wall, CPU, RSS, bytes)."""
    shutil.rmtree(app, ignore_errors=True)
    shutil.copytree(old, app, symlinks=True)
    shutil.copy(old_manifest, os.path.join(app, "version.txt"))
    shutil.copy(lodestar, os.path.join(app, "Lodestar"))
    base = "http://127.0.0.1:%d" % nginx.port
    with open(os.path.join(nginx.work, "www", folder + "-servers.txt"), "w") as out:
        out.write("Bench|%s/%s\n" % (base, folder))
    with open(os.path.join(app, "Lodestar.cfg"), "w") as out:
        out.write('serverlist:"%s/%s-servers.txt",auto:1,connections:1\n' % (base, folder))
    nginx.served()
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    subprocess.run(["sync"], check=True)
    wall, cpu, rss = run_measured([os.path.join(app, "Lodestar")], env=env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
    for rel, path in files_of(new).items():
        if not filecmp.cmp(path, os.path.join(app, rel), shallow=False):
            raise RuntimeError("%s: %s is not the new release's" % (folder, rel))
    return wall, cpu, rss, nginx.served()


def sha256_of(path):
    with open(path, "rb") as data:
        return hashlib.file_digest(data, "sha256").hexdigest()


def zstd_decode_cpu(out, changed):
    """CPU seconds of zstd -d --patch-from for the patches of changed that out serves."""
    total = 0.0
    for _, old, new in changed:
        frame = old and os.path.join(out, "_lodestar", "%s-%s.zst.txt" % (sha256_of(old),
                                                                         sha256_of(new)))
        if frame and os.path.exists(frame):
            _, cpu, _ = run_measured(["zstd", "-q", "-d", "-f", "--long=31",
                                      "--patch-from=" + old, frame, "-o", os.devnull])
            total += cpu
    return total


def mb(count):
    return "%.3f MB" % (count / 1e6)


def pair_rows(name, package, v1, v2, what, tools, work, cache, nginx):
    lodestar, publisher = tools
    first, second = fetch(cache, package, v1), fetch(cache, package, v2)
    if not first or not second:
        return []
    root = os.path.join(work, name)
    old, new = unpack(first, os.path.join(root, "v1")), unpack(second, os.path.join(root, "v2"))
    changed = changed_files(old, new)
    log("%s: %d changed files, anchors" % (name, len(changed)))
    anchor = anchors(changed, root)
    www = os.path.join(work, "www")
    times, manifests = {}, {}
    for way, extra in (("copies", ["--patches", "0"]), ("patches", [])):
        out = os.path.join(www, "%s-%s" % (name, way))
        log("%s: publishing (%s)" % (name, way))
        first_time = publish(publisher, old, out, extra)
        manifests[way] = os.path.join(root, way + ".version.txt")
        shutil.copy(os.path.join(out, "version.txt"), manifests[way])
        times[way] = (first_time, publish(publisher, new, out, extra))
    whole_only(os.path.join(www, name + "-patches"), os.path.join(www, name + "-whole"))
    manifests["whole"] = manifests["patches"]
    runs = {}
    for way in ("whole", "copies", "patches"):
        log("%s: updating (%s)" % (name, way))
        runs[way] = update(lodestar, nginx, "%s-%s" % (name, way), old, manifests[way], new,
                           os.path.join(root, "app-" + way))
    decode_cpu = zstd_decode_cpu(os.path.join(www, name + "-patches"), changed)

    whole_bytes = sum(size(new_path) for _, _, new_path in changed)
    label = "`%s` %s → %s (%s)" % (package, v1, v2, what)
    rows = []
    patches_bytes, copies_bytes = runs["patches"][3], runs["copies"][3]
    ratio = patches_bytes / anchor["patch-from"]
    rows.append((label + ": bytes, patches", mb(patches_bytes),
                 "%s `--patch-from`; %s `zstd --long=27`; %s xdelta3; %s whole" % (
                     mb(anchor["patch-from"]), mb(anchor["zstd"]), mb(anchor["xdelta3"]),
                     mb(whole_bytes)),
                 "%.2fx" % ratio, "<= 1.15x, <= whole",
                 "yes" if ratio <= 1.15 and patches_bytes <= runs["whole"][3] else "NO"))
    rows.append((label + ": bytes, compressed copies", mb(copies_bytes),
                 "%s whole (%s served)" % (mb(whole_bytes), mb(runs["whole"][3])),
                 "%.2fx" % (copies_bytes / runs["whole"][3]), "<= whole",
                 "yes" if copies_bytes <= runs["whole"][3] else "NO"))
    time_ratio = runs["patches"][0] / runs["whole"][0]
    timed = name != "typescript"
    rows.append((label + ": update at 100 Mbit/s, s", "%.2f (copies %.2f)" % (
        runs["patches"][0], runs["copies"][0]), "%.2f whole files" % runs["whole"][0],
                 "%.2fx" % time_ratio, "<= 0.3x" if timed else "",
                 ("yes" if time_ratio <= 0.3 else "NO") if timed else ""))
    cpu_ratio = runs["patches"][1] / decode_cpu if decode_cpu else 0
    rows.append((label + ": client CPU s, peak RSS MiB", "%.2f, %.1f" % runs["patches"][1:3],
                 "%.2f `zstd -d --patch-from`" % decode_cpu if decode_cpu else "",
                 "%.2fx" % cpu_ratio if decode_cpu else "",
                 "<= 1.5x" if name == "next-swc" else "",
                 ("yes" if cpu_ratio <= 1.5 else "NO") if name == "next-swc" else ""))
    rows.append((label + ": publish s, first + second", "%.0f + %.0f" % times["patches"],
                 "%.0f + %.0f with --patches 0" % times["copies"], "", "", ""))
    return rows


def big_file_rows(publisher, work, mib):
    """Publishing a file of mib MiB, then a second version of it with 5% of its MiB replaced."""
    release = os.path.join(work, "big-release")
    os.makedirs(release, exist_ok=True)
    path = os.path.join(release, "big.bin")
    with open(path, "wb") as out:
        for _ in range(mib):
            out.write(os.urandom(1 << 20))
    out_dir = os.path.join(work, "big-out")
    log("publishing a %d MiB file" % mib)
    first = publish(publisher, release, out_dir)
    with open(path, "r+b") as out:
        for block in range(0, mib, 20):
            out.seek(block << 20)
            out.write(os.urandom(1 << 20))
    log("publishing its second version")
    second = publish(publisher, release, out_dir)
    shutil.rmtree(release)
    shutil.rmtree(out_dir)
    return [("%d MiB file (random bytes, 5%% replaced): publish s, first + second" % mib,
             "%.0f + %.0f" % (first, second), "", "", "<= 180 each",
             "yes" if max(first, second) <= 180 else "NO")]


def main():
    lodestar, publisher, work, cache = sys.argv[1:5]
    chosen = os.environ.get("BENCH_PAIRS_LIST", "").split() or [p[0] for p in PAIRS]
    os.makedirs(os.path.join(work, "www"), exist_ok=True)
    os.chmod(work, 0o755)  # nginx's workers read as another user
    nginx = Nginx(work)
    rows = []
    try:
        for name, package, v1, v2, what in PAIRS:
            if name not in chosen:
                continue
            try:
                rows += pair_rows(name, package, v1, v2, what, (lodestar, publisher), work,
                                  cache, nginx)
            except (OSError, RuntimeError, subprocess.SubprocessError) as error:
                log("%s failed: %s" % (name, error))
    finally:
        nginx.stop()
    mib = int(os.environ.get("BENCH_BIG_MIB", "1024"))
    if mib > 0:
        rows += big_file_rows(publisher, work, mib)
    print()
    print("Release pairs: %d cores; load %s at the end" % (
        os.cpu_count(), " ".join(open("/proc/loadavg").read().split()[:3])))
    print()
    print("| Case | Lodestar | Reference | Ratio | Target | Met |")
    print("|---|---|---|---|---|---|")
    for row in rows:
        print("| %s |" % " | ".join(row))


if __name__ == "__main__":
    main()
