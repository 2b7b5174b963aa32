#!/usr/bin/env python3
"""A TLS server for the client's tests, on a free loopback port.

usage: tls_server.py PORTFILE DIR MODE [COUNT [IDLE [CERT]]]

Serves COUNT connections (default 1) with DIR/CERT.pem and DIR/CERT.key
(default good; another is loaded at OpenSSL's security level 0, since it may
be one a careful client refuses), then exits; it also exits after IDLE seconds
(default 60) without a connection. The port goes into PORTFILE once it listens.
Each connection reads one request head and answers by MODE with a body of
100000 bytes, byte i being i % 251:

  length           Content-Length, then a close without close_notify
  chunked          chunks of 1000, then a close without close_notify
  close-notify     no length: the body ends with close_notify and the close
  no-close-notify  no length: the body ends with a bare close
  handshake-close  the connection closes after the ClientHello arrives
  handshake-stall  the ClientHello is read and never answered (for 30 s)
  stall            the head, half the body, then nothing for 30 s
  error-no-close-notify
                   a 404 with no length, its body ending with a bare close
  renegotiate      TLS 1.2; answers nothing and, once the request has come,
                   renegotiates asking for a client certificate ten times a second
  tls10            TLS 1.0 only; the client is expected to refuse it

The tunnel modes are a plain CONNECT proxy instead, one thread per connection,
that connects any host to 127.0.0.1 at the port asked for (so that a test needs
no name service) and relays both ways after its reply:

  tunnel           200 Connection established
  tunnel-100       100 Continue only
  tunnel-302       302 Found only
  tunnel-garbage   a line that is no status line
"""
import ctypes
import ctypes.util
import os
import socket
import ssl
import struct
import sys
import threading
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)  # TLS 1.0 is wanted here

BODY = bytes(i % 251 for i in range(100000))

TUNNEL_REPLIES = {
    "tunnel": b"HTTP/1.1 200 Connection established\r\n\r\n",
    "tunnel-100": b"HTTP/1.1 100 Continue\r\n\r\n",
    "tunnel-302": b"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/\r\n\r\n",
    "tunnel-garbage": b"SSH-2.0-OpenSSH_9.2\r\n\r\n",
}


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
    return data


def pump(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    try:
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def tunnel(conn, mode):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            conn.close()
            return
        data += piece
    head, rest = data.split(b"\r\n\r\n", 1)
    port = int(head.split(b"\r\n")[0].split()[1].rsplit(b":", 1)[1])
    upstream = socket.create_connection(("127.0.0.1", port))
    conn.sendall(TUNNEL_REPLIES[mode])
    upstream.sendall(rest)
    back = threading.Thread(target=pump, args=(upstream, conn), daemon=True)
    back.start()
    pump(conn, upstream)
    back.join()
    conn.close()
    upstream.close()


def renegotiating(raw, directory):
    """TLS 1.2 over OpenSSL itself (Python's ssl cannot renegotiate): after the
    request head, a renegotiation that asks for a client certificate every
    100 ms until the client goes."""
    lib = ctypes.CDLL(ctypes.util.find_library("ssl"))
    for name in ("TLS_server_method", "SSL_CTX_new", "SSL_new"):
        getattr(lib, name).restype = ctypes.c_void_p
    for name in ("SSL_CTX_new", "SSL_CTX_free", "SSL_new", "SSL_free", "SSL_accept", "SSL_renegotiate",
                 "SSL_do_handshake"):
        getattr(lib, name).argtypes = [ctypes.c_void_p]
    lib.SSL_CTX_set_options.argtypes = [ctypes.c_void_p, ctypes.c_uint64]
    lib.SSL_CTX_ctrl.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    lib.SSL_CTX_set_verify.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p]
    lib.SSL_CTX_use_certificate_chain_file.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.SSL_CTX_use_PrivateKey_file.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.SSL_set_fd.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.SSL_read.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    context = lib.SSL_CTX_new(lib.TLS_server_method())
    lib.SSL_CTX_ctrl(context, 124, 0x0303, None)  # SSL_CTRL_SET_MAX_PROTO_VERSION, TLS 1.2
    lib.SSL_CTX_set_options(context, 0x00010000)  # SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION
    lib.SSL_CTX_set_verify(context, 1, None)  # SSL_VERIFY_PEER: ask, and take no certificate too
    lib.SSL_CTX_use_certificate_chain_file(context, os.path.join(directory, "good.pem").encode())
    lib.SSL_CTX_use_PrivateKey_file(context, os.path.join(directory, "good.key").encode(), 1)
    session = lib.SSL_new(context)
    lib.SSL_set_fd(session, raw.fileno())
    buffer = ctypes.create_string_buffer(4096)
    try:
        if lib.SSL_accept(session) != 1:
            return
        head = b""
        while b"\r\n\r\n" not in head:
            n = lib.SSL_read(session, buffer, 4096)
            if n <= 0:
                return
            head += buffer.raw[:n]
        # Each read waits 100 ms at most; the socket stays blocking for OpenSSL.
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, struct.pack("ll", 0, 100000))
        deadline = time.time() + 30
        while time.time() < deadline:
            lib.SSL_renegotiate(session)
            lib.SSL_do_handshake(session)
            if lib.SSL_read(session, buffer, 4096) == 0:
                return
    finally:
        lib.SSL_free(session)
        lib.SSL_CTX_free(context)
        raw.close()


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
    elif mode == "error-no-close-notify":
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n" + BODY[:1000])
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
    cert = sys.argv[6] if len(sys.argv) > 6 else "good"
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if mode == "tls10" or cert != "good":
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.load_cert_chain(os.path.join(directory, cert + ".pem"), os.path.join(directory, cert + ".key"))
    if mode == "tls10":
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
        if mode in TUNNEL_REPLIES:
            threading.Thread(target=tunnel, args=(raw, mode), daemon=True).start()
            continue
        if mode == "renegotiate":
            threading.Thread(target=renegotiating, args=(raw, directory), daemon=True).start()
            continue
        try:
            serve(raw, context, mode)
        except (ssl.SSLError, OSError):
            pass  # the client gave up: that is what some tests expect


if __name__ == "__main__":
    main()
