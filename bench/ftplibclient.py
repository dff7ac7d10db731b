#!/usr/bin/python3
"""Python's stock ftplib over FTPS, written as its users write it: FTP_TLS,
login, prot_p(), storbinary/retrbinary file after file on one session, with
the usual subclass whose data connections resume the control connection's
TLS session (servers that require it, vsftpd's require_ssl_reuse and ours by
default, refuse the others). storbinary ends each upload with unwrap(), which
waits for the server's close_notify, as the library does.

    ftplibclient.py HOST PORT USER PASSWORD up|down REMOTE_FOLDER LOCAL_FOLDER NAME...

Used by bench/clientbench.py; exits 1 with the error on standard error.
"""

import ftplib
import os
import sys


class ReusingFTP_TLS(ftplib.FTP_TLS):
    """FTP_TLS whose data connections resume the control session."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=self.sock.session)
        return conn, size


def main():
    if len(sys.argv) < 9 or sys.argv[5] not in ("up", "down"):
        sys.exit(__doc__)
    host, port, user, password, direction, remote, local = sys.argv[1:8]
    ftp = ReusingFTP_TLS()
    ftp.connect(host, int(port), timeout=30)
    ftp.login(user, password)
    ftp.prot_p()
    for name in sys.argv[8:]:
        path = os.path.join(local, name)
        if direction == "up":
            with open(path, "rb") as f:
                ftp.storbinary("STOR %s/%s" % (remote, name), f)
        else:
            with open(path, "wb") as f:
                ftp.retrbinary("RETR %s/%s" % (remote, name), f.write)
    ftp.quit()


if __name__ == "__main__":
    try:
        main()
    except (OSError, EOFError, ftplib.Error) as e:
        sys.exit("ftplib: %s: %s" % (type(e).__name__, e))
