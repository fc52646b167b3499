#!/usr/bin/python3
"""Local servers for the report tests, each on 127.0.0.1 until killed; the chosen port is
written to <portfile> once the server listens.

  report-servers.py smtp <mode> <portfile> <maildir> [certfile keyfile user password]
      mode: starttls (STARTTLS required, login required), smtps (TLS from the first byte, login
      required), plain (no TLS at all). Each message received is written to <maildir> as a file.
  report-servers.py http <portfile> <logfile>
      logs "<METHOD> <path> <body on one line>" for each request and answers 200.
  report-servers.py hang <portfile>
      accepts connections and never says a word.
"""
import asyncio
import os
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def announce(portfile, port):
    tmp = portfile + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(port))
    os.rename(tmp, portfile)


def smtp(mode, portfile, maildir, cert=None, key=None, user=None, password=None):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Keep:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Keep.count += 1
            name = os.path.join(maildir, "mail-%03d" % Keep.count)
            with open(name + ".tmp", "wb") as f:
                f.write(("X-Envelope-From: %s\r\nX-Envelope-To: %s\r\nX-Login: %s\r\n" % (
                    envelope.mail_from, ",".join(envelope.rcpt_tos),
                    getattr(session, "stow_user", None) or "")).encode())
                f.write(envelope.original_content or envelope.content)
            os.rename(name + ".tmp", name)
            return "250 OK"

    def check_login(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login.decode() == user and auth_data.password.decode() == password
        if ok:
            session.stow_user = user
        return AuthResult(success=ok, handled=False)

    port = free_port()
    kwargs = {}
    ctx = None
    if mode in ("starttls", "smtps"):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)
        kwargs.update(auth_required=True, authenticator=check_login, auth_require_tls=True)
    if mode == "starttls":
        kwargs.update(tls_context=ctx, require_starttls=True)
        controller = Controller(Keep(), hostname="127.0.0.1", port=port, **kwargs)
    elif mode == "smtps":
        # aiosmtpd counts only STARTTLS as TLS for logins; here the whole session is TLS.
        kwargs.update(auth_require_tls=False)
        controller = Controller(Keep(), hostname="127.0.0.1", port=port, ssl_context=ctx, **kwargs)
    else:
        controller = Controller(Keep(), hostname="127.0.0.1", port=port)
    # The controller's own readiness probe speaks plain SMTP; with implicit TLS it cannot, so
    # the test waits for the port file instead.
    try:
        controller.start()
    except Exception:
        if mode != "smtps":
            raise
    announce(portfile, port)
    while True:
        time.sleep(3600)


def http(portfile, logfile):
    lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        def handle_one(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length).decode("utf-8", "replace") if length else ""
            with lock, open(logfile, "a") as f:
                f.write("%s %s %s\n" % (self.command, self.path, body.replace("\n", "|")))
            self.send_response(200)
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"OK")

        do_GET = handle_one
        do_POST = handle_one
        do_HEAD = handle_one

        def log_message(self, *args):
            pass

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    announce(portfile, server.server_address[1])
    server.serve_forever()


def hang(portfile):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    announce(portfile, s.getsockname()[1])
    held = []
    while True:
        conn, _ = s.accept()
        held.append(conn)  # kept open, never answered


if __name__ == "__main__":
    kind = sys.argv[1]
    if kind == "smtp":
        smtp(*sys.argv[2:])
    elif kind == "http":
        http(*sys.argv[2:])
    elif kind == "hang":
        hang(*sys.argv[2:])
    else:
        sys.exit(2)
