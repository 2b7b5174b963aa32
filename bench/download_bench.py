#!/usr/bin/env python3
"""Downloads one large file alternately with vykget and curl from a local nginx
and reports median wall time, throughput, peak resident memory and the median
of the pairwise time ratios vykget/curl, for a response with Content-Length and
for a chunked one, over http and over https (both programs on the system's
OpenSSL, trusting the system's roots and a CA made for the run). Everything stays on 127.0.0.1."""

import argparse
import os
import shutil
import socket
import ssl
import statistics
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


NGINX_CONF = """
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
daemon off;
events {{ worker_connections 64; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path {work}/tmp;
    proxy_temp_path {work}/tmp;
    fastcgi_temp_path {work}/tmp;
    uwsgi_temp_path {work}/tmp;
    scgi_temp_path {work}/tmp;
    server {{
        listen 127.0.0.1:{port};
        listen 127.0.0.1:{tls_port} ssl;
        ssl_certificate {work}/certs/good.pem;
        ssl_certificate_key {work}/certs/good.key;
        ssl_protocols TLSv1.2 TLSv1.3;
        root {root};
        # Server-side includes drop the length, so this location answers chunked.
        location /chunked/ {{
            alias {root}/;
            ssi on;
            ssi_types *;
            default_type application/octet-stream;
        }}
    }}
}}
"""


def run_once(command, output):
    """Wall time in seconds and peak resident memory in MiB of one run.
    GNU time measures the program itself, not the forked launcher."""
    if output != "/dev/null" and os.path.exists(output):
        os.remove(output)
    report = os.path.join(tempfile.gettempdir(), f"vyk-bench-{os.getpid()}.rss")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"{command[0]} failed: {done.stderr.decode(errors='replace').strip()}")
    with open(report) as f:
        peak_kib = int(f.read().split()[-1])
    os.remove(report)
    return elapsed, peak_kib / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vykget", required=True)
    parser.add_argument("--size-mib", type=int, default=512)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--schemes", default="http,https", help="http, https or both (the default)")
    parser.add_argument("--sink", default="file", choices=("file", "null"),
                        help="file: a real file (vykget syncs it before its rename; curl does not); "
                             "null: /dev/null, the transfer alone")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="vyk-bench-", dir=os.path.abspath("bench"))
    os.chmod(work, 0o755)  # the nginx worker runs as an unprivileged user
    root = os.path.join(work, "www")
    os.makedirs(os.path.join(work, "tmp"))
    os.makedirs(root)
    size = args.size_mib * 1024 * 1024
    with open(os.path.join(root, "Kalmin.exe"), "wb") as f:
        block = os.urandom(1024 * 1024).replace(b"<", b"(")
        for _ in range(args.size_mib):
            f.write(block)
    os.chmod(os.path.join(root, "Kalmin.exe"), 0o644)
    port, tls_port = free_port(), free_port()
    certs = os.path.join(work, "certs")
    subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support",
                                 "make-test-certificates"), certs], check=True)
    ca = os.path.join(certs, "ca.pem")
    # vykget's --cacert adds to the system's roots, curl's replaces them: curl
    # gets both in one file, so that each loads the same certificates.
    system_roots = os.environ.get("SSL_CERT_FILE") or ssl.get_default_verify_paths().openssl_cafile
    both = os.path.join(certs, "system-and-test.pem")
    with open(both, "wb") as out:
        for path in (system_roots, ca):
            if path and os.path.exists(path):
                with open(path, "rb") as f:
                    out.write(f.read() + b"\n")
    with open(os.path.join(work, "nginx.conf"), "w") as f:
        f.write(NGINX_CONF.format(work=work, root=root, port=port, tls_port=tls_port))
    nginx = subprocess.Popen(["nginx", "-c", os.path.join(work, "nginx.conf"), "-p", work],
                             stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
                break
            except OSError:
                time.sleep(0.05)
        out = os.path.join(work, "download.bin") if args.sink == "file" else "/dev/null"
        cases = [(scheme, label, path) for scheme in args.schemes.split(",")
                 for label, path in (("Content-Length", "/Kalmin.exe"), ("chunked", "/chunked/Kalmin.exe"))]
        for scheme, label, path in cases:
            secure = scheme == "https"
            url = f"{scheme}://127.0.0.1:{tls_port if secure else port}{path}"
            tools = {
                "vykget": [os.path.abspath(args.vykget)] + (["--cacert", ca] if secure else []) + [url, out],
                "curl": ["curl", "-s"] + (["--cacert", both] if secure else []) + ["-o", out, url],
            }
            results = {name: [] for name in tools}
            for _ in range(args.runs):
                for name, command in tools.items():
                    results[name].append(run_once(command, out))
                    if args.sink == "file" and os.path.getsize(out) != size:
                        raise SystemExit(f"{name} wrote {os.path.getsize(out)} bytes, expected {size}")
            print(f"\n{scheme} {label} response, {args.size_mib} MiB into {args.sink}, "
                  f"{args.runs} alternated runs each")
            for name, samples in results.items():
                wall = statistics.median(t for t, _ in samples)
                peak = max(m for _, m in samples)
                print(f"  {name:7s} median {wall:7.3f} s  {args.size_mib / wall:8.1f} MiB/s  peak RSS {peak:6.1f} MiB")
            ratios = [v[0] / c[0] for v, c in zip(results["vykget"], results["curl"])]
            print(f"  median of pairwise ratios vykget/curl: {statistics.median(ratios):.3f}")
    finally:
        nginx.terminate()
        nginx.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
