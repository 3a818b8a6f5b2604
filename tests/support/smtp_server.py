#!/usr/bin/python3
"""SMTP server for the tests, on a free loopback port.

Prints "PORT <n>" once it listens ("ERROR <errno name>" when it cannot) and runs until its
standard input closes. Each accepted message goes into the output folder as <n>.eml (the bytes
received) and <n>.json (envelope, login, TLS, and the headers and bodies as Python's own mail
parser reads them).

Senders beginning with "bad" and recipients beginning with "reject" are refused; a message to a
recipient beginning with "drop" has its connection closed before the answer.
"""

import argparse
import asyncio
import email
import email.policy
import errno
import json
import logging
import os
import ssl
import subprocess
import sys
import tempfile
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if address.startswith("bad"):
            return "553 5.1.8 Sender address rejected"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("reject"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r.startswith("drop") for r in envelope.rcpt_tos):
            server.transport.close()
            return "421 4.3.0 Closing"
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        raw = envelope.original_content or envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        message = email.message_from_bytes(raw, policy=email.policy.default)

        def body(kind):
            part = message.get_body(preferencelist=(kind,))
            if part is None or part.get_content_type() != "text/" + kind:
                return None
            return part.get_content().replace("\r\n", "\n")

        login = None
        if isinstance(session.auth_data, LoginPassword):
            login = session.auth_data.login.decode("utf-8", "replace")
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "auth_user": login,
            "tls": session.ssl is not None,
            "from": str(message.get("From", "")),
            "to": str(message.get("To", "")),
            "subject": str(message.get("Subject", "")),
            "content_type": message.get_content_type(),
            "parts": [p.get_content_type() for p in message.walk()],
            "text": body("plain"),
            "html": body("html"),
            "bare_lf": b"\n" in raw.replace(b"\r\n", b""),
            "headers": {k: str(v) for k, v in message.items()},
        }
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.replace(base + ".json.tmp", base + ".json")
        return "250 2.0.0 Message accepted"


def tls_context():
    # The context keeps the key in memory: the files go at once, so that no end of the server,
    # a kill included, leaves a private key behind.
    with tempfile.TemporaryDirectory() as folder:
        cert = os.path.join(folder, "cert.pem")
        key = os.path.join(folder, "key.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
             "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
            check=True, capture_output=True)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        return context


async def main():
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == args.user
              and auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    recorder = Recorder(args.out)
    options = {"hostname": "smtp.test", "auth_require_tls": False}
    if args.user:
        options.update(authenticator=authenticator, auth_required=True)
    if args.tls:
        options["tls_context"] = tls_context()

    loop = asyncio.get_running_loop()
    try:
        server = await loop.create_server(lambda: SMTP(recorder, **options), args.host, args.port)
    except OSError as error:
        print("ERROR", errno.errorcode.get(error.errno, error.errno), flush=True)
        return
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
