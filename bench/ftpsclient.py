"""The FTPS client side of the benchmark (ftpsbench.py): a TLS context for
self-signed certificates, sessions whose data connections resume the control
connection's TLS session, and the two ways a protected data connection ends.
Only 127.0.0.1 is ever contacted."""

import ftplib
import select
import ssl

import ftpbench as plain

HOST = plain.HOST
SOCKET_TIMEOUT = plain.SOCKET_TIMEOUT


def tls_context():
    """A client context for self-signed certificates; some servers end data
    connections without close_notify, which then reads as a normal end."""
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    ctx.options |= ssl.OP_IGNORE_UNEXPECTED_EOF
    return ctx


# One context per process: a session resumes only within its own context.
CONTEXT = tls_context()


class ResumingFTP(ftplib.FTP_TLS):
    """Data connections resume the control connection's latest session; the
    number of handshakes and of resumed ones is counted."""

    def __init__(self, **kw):
        super().__init__(context=CONTEXT, **kw)
        self.handshakes = 0
        self.resumed = 0

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        conn = self.context.wrap_socket(conn, server_hostname=None, session=self.sock.session)
        self.handshakes += 1
        self.resumed += conn.session_reused
        return conn, size


def connect(port, user, password):
    f = ResumingFTP(timeout=SOCKET_TIMEOUT)
    f.connect(HOST, port)
    f.auth()
    f.login(user, password)
    f.prot_p()
    return f


def close_data(conn):
    """After a download: our close_notify in answer to the server's (or to
    its plain end), as ftplib does, then the socket."""
    try:
        conn.unwrap()
    except (OSError, ValueError):
        pass
    conn.close()


def end_upload(conn):
    """After an upload: our close_notify, then the socket, without waiting
    for the server's answer (as curl does; ftplib's unwrap would wait for
    it and time each server's way of answering rather than the upload)."""
    conn.settimeout(0)
    for _ in range(1000):  # a full send buffer may hold the alert back
        try:
            conn.unwrap()
            break
        except ssl.SSLWantReadError:
            break  # ours is out; the server's is not waited for
        except ssl.SSLWantWriteError:
            select.select([], [conn], [], 1.0)
        except (OSError, ValueError):
            break
    conn.close()


def download_once(f, size, buf):
    conn = f.transfercmd("RETR " + plain.BIG_NAME)
    got = plain.read_all(conn, buf)
    close_data(conn)
    f.voidresp()
    if got != size:
        raise plain.Failure("download returned %d bytes, expected %d" % (got, size))
