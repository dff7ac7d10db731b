"""A local SMTP server for the tests (aiosmtpd): STARTTLS required, a login
required, each message saved as a file. Prints "ready" once it listens; runs
until killed."""

import argparse
import os
import ssl
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Handler:
    def __init__(self, out):
        self.out = out
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.out, f"mail-{self.count}.eml")
        with open(path + ".tmp", "wb") as f:
            f.write(b"X-Rcpt: " + ",".join(envelope.rcpt_tos).encode() + b"\r\n")
            f.write(envelope.original_content or envelope.content)
        os.rename(path + ".tmp", path)
        return "250 2.0.0 Messaggio ricevuto"


def main():
    parser = argparse.ArgumentParser()
    for name in ("port", "cert", "key", "user", "password", "out"):
        parser.add_argument("--" + name, type=int if name == "port" else str, required=True)
    args = parser.parse_args()

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == args.user.encode() and auth_data.password == args.password.encode()
        return AuthResult(success=ok, handled=False)

    controller = Controller(Handler(args.out), hostname="127.0.0.1", port=args.port,
                            tls_context=context, require_starttls=True, authenticator=authenticate,
                            auth_required=True, auth_require_tls=True)
    controller.start()
    print("ready", flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
