#!/usr/bin/env python3
"""A TLS server for the client's tests, on a free loopback port.

usage: tls_server.py PORTFILE DIR MODE [COUNT [IDLE]]

Serves COUNT connections (default 1) with DIR/good.pem and DIR/good.key, then
exits; it also exits after IDLE seconds (default 60) without a connection. The port goes into
PORTFILE once it listens. Each connection reads one request head and answers
by MODE with a body of 100000 bytes, byte i being i % 251:

  length           Content-Length, then a close without close_notify
  chunked          chunks of 1000, then a close without close_notify
  close-notify     no length: the body ends with close_notify and the close
  no-close-notify  no length: the body ends with a bare close
  handshake-close  the connection closes after the ClientHello arrives
  handshake-stall  the ClientHello is read and never answered (for 30 s)
  stall            the head, half the body, then nothing for 30 s
  tls10            TLS 1.0 only; the client is expected to refuse it
"""
import os
import warnings
import socket
import ssl
import sys
import time

warnings.simplefilter("ignore", DeprecationWarning)  # TLS 1.0 is wanted here

BODY = bytes(i % 251 for i in range(100000))


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
    return data


def serve(raw, context, mode):
    if mode in ("handshake-close", "handshake-stall"):
        raw.recv(4096)
        if mode == "handshake-stall":
            time.sleep(30)
        raw.close()
        return
    conn = context.wrap_socket(raw, server_side=True)
    if read_head(conn) is None:
        conn.close()
        return
    if mode == "length":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(BODY) + BODY)
    elif mode == "chunked":
        out = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        for i in range(0, len(BODY), 1000):
            piece = BODY[i:i + 1000]
            out += b"%x\r\n" % len(piece) + piece + b"\r\n"
        conn.sendall(out + b"0\r\n\r\n")
    elif mode == "stall":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(BODY) + BODY[:50000])
        time.sleep(30)
    else:
        conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + BODY)
    if mode == "close-notify":
        try:
            conn.unwrap().close()
        except (ssl.SSLError, OSError):
            conn.close()
        return
    # A bare close: the TCP connection ends with no TLS alert before it.
    raw_again = socket.socket(fileno=conn.detach())
    raw_again.close()


def main():
    port_file, directory, mode = sys.argv[1:4]
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    idle = int(sys.argv[5]) if len(sys.argv) > 5 else 60
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(directory, "good.pem"), os.path.join(directory, "good.key"))
    if mode == "tls10":
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = ssl.TLSVersion.TLSv1
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.settimeout(idle)
    with open(port_file + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)
    for _ in range(count):
        try:
            raw, _ = listener.accept()
        except socket.timeout:
            return
        raw.settimeout(None)
        try:
            serve(raw, context, mode)
        except (ssl.SSLError, OSError):
            pass  # the client gave up: that is what some tests expect


if __name__ == "__main__":
    main()
