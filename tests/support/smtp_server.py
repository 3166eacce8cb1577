#!/usr/bin/python3
"""SMTP server for the tests (aiosmtpd), on a free loopback port.

Prints the port on the first line of its output, then serves until its
standard input closes. Every accepted message is written as one JSON file
into the spool directory before the server answers 250, and every command
it sees is appended to events.jsonl there, so the test can read what the
server received as soon as the client call returns.
"""
import argparse
import asyncio
import base64
import email
import email.policy
import hmac
import json
import logging
import os
import random
import secrets
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING


# What a refusing server says to the command it refuses.
REJECTED = "550 5.7.1 Rejected"


def strip_final_line_end(body):
    # SMTP data always ends with a line end, which the client adds when the
    # text has none; the test compares the text without it.
    return body[:-1] if body.endswith("\n") else body


class Recorder:
    def __init__(self, spool):
        self.spool = spool
        self.count = 0
        self.events = open(os.path.join(spool, "events.jsonl"), "a", encoding="utf-8")

    def event(self, session, command, arg=""):
        self.events.write(json.dumps({"peer": str(session.peer), "command": command,
                                      "arg": arg}) + "\n")
        self.events.flush()

    def message(self, session, envelope):
        self.count += 1
        raw = envelope.original_content or b""
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        try:
            body = msg.get_content()
        except Exception as error:  # the test sees the defect instead
            body = "<undecodable: %s>" % error
        login = getattr(session.auth_data, "login", None)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "login": login.decode() if isinstance(login, bytes) else login,
            "raw": base64.b64encode(raw).decode(),
            "headers": [[k, str(v)] for k, v in msg.items()],
            "body": strip_final_line_end(body.replace("\r\n", "\n")),
            "defects": [str(d) for d in msg.defects],
        }
        name = os.path.join(self.spool, "msg-%04d.json" % self.count)
        with open(name + ".tmp", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.replace(name + ".tmp", name)


class Handler:
    def __init__(self, recorder, user, password, stall, reject):
        self.recorder = recorder
        self.user = user.encode()
        self.password = password.encode()
        self.stall = stall
        self.reject = reject

    async def _maybe_stall(self, command):
        if self.stall == command:
            await asyncio.sleep(3600)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.recorder.event(session, "EHLO", hostname)
        await self._maybe_stall("EHLO")
        session.host_name = hostname
        return responses

    async def handle_NOOP(self, server, session, envelope, arg):
        self.recorder.event(session, "NOOP", arg)
        await self._maybe_stall("NOOP")
        return MISSING

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.recorder.event(session, "MAIL", address)
        await self._maybe_stall("MAIL")
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        self.recorder.event(session, "RCPT", address)
        if self.reject == "RCPT":
            return REJECTED
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.recorder.event(session, "DATA")
        await self._maybe_stall("DATA")
        if self.reject == "DATA":
            return REJECTED
        self.recorder.message(session, envelope)
        return "250 Message accepted for delivery"

    async def handle_QUIT(self, server, session, envelope):
        self.recorder.event(session, "QUIT")
        await self._maybe_stall("QUIT")
        return MISSING

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and hmac.compare_digest(auth_data.password, self.password))
        self.recorder.event(session, "AUTH", "%s %s %s" % (
            mechanism, "ok" if ok else "failed", auth_data.login.decode(errors="replace")))
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    # CRAM-MD5 is not built into aiosmtpd; the handler supplies it.
    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%s@corvane-test>" % secrets.token_hex(8)).encode()
        response = await server.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False, handled=False)
        user, _, digest = response.partition(b" ")
        expected = hmac.new(self.password, challenge, "md5").hexdigest().encode()
        ok = user == self.user and hmac.compare_digest(digest, expected)
        self.recorder.event(session=server.session, command="AUTH",
                            arg="CRAM-MD5 %s %s" % ("ok" if ok else "failed",
                                                    user.decode(errors="replace")))
        return AuthResult(success=ok, handled=False,
                          auth_data=LoginPassword(user, b"") if ok else None)


async def silent(reader, writer):
    # Accepts the connection and never greets.
    await asyncio.sleep(3600)


async def main():
    # aiosmtpd logs deprecations and the failed handshakes that the TLS tests
    # cause on purpose; the tests check the outcome themselves.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--auth", action="store_true",
                        help="offer AUTH LOGIN, PLAIN and CRAM-MD5 without TLS")
    parser.add_argument("--user", default="monitor")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--stall", default="", help="never answer this command")
    parser.add_argument("--reject", default="", help="refuse this command (RCPT or DATA)")
    parser.add_argument("--silent", action="store_true", help="accept, never greet")
    parser.add_argument("--tls-cert", default="", help="offer STARTTLS with this certificate")
    parser.add_argument("--tls-key", default="")
    args = parser.parse_args()

    loop = asyncio.get_running_loop()
    recorder = Recorder(args.spool)
    handler = Handler(recorder, args.user, args.password, args.stall, args.reject)
    tls = None
    if args.tls_cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    if args.silent:
        server = await asyncio.start_server(silent, host="127.0.0.1", port=0)
    else:
        def factory():
            if args.auth:
                return SMTP(handler, hostname="corvane-test", auth_require_tls=False,
                            authenticator=handler.authenticate, tls_context=tls)
            # Without TLS, auth_require_tls keeps AUTH out of the EHLO reply.
            return SMTP(handler, hostname="corvane-test", auth_require_tls=True,
                        tls_context=tls)
        server = None
        # Below 32768: the settings record keeps the SMTP port as a signed
        # 16-bit number, so tests that go through the settings file need one.
        for port in random.sample(range(20000, 32768), 50):
            try:
                server = await loop.create_server(factory, host="127.0.0.1", port=port)
                break
            except OSError:
                continue
        if server is None:
            server = await loop.create_server(factory, host="127.0.0.1", port=0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
