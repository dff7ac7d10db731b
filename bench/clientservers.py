"""The servers of bench/clientbench.py, each started from settings of its own
on a loopback port and stopped by its process group: vsftpd (FTP and FTPS,
one instance on 127.0.0.1 and one on ::1), Pure-FTPd (likewise; FTPS too,
as a second FTPS peer that does not require resumed sessions),
OpenSSH's sshd (SFTP) and our program headless (FTP, FTPS and SFTP on
127.0.0.1, FTP on ::1). Every wait is bounded."""

import os
import shutil
import signal
import socket
import subprocess
import time

PEER_USER = "kvbench"  # the local user the peers log in (bench/run makes it)
OUR_USER = "bench"
PASSWORD = "bench"


def free_port(host):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def wait_port(host, port, proc, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            socket.create_connection((host, port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


class Server:
    """One server process. `endpoints` maps (protocol, host) to a port;
    `column` is its column in the table (the ::1 instance shares it)."""

    column = ""
    user = PEER_USER

    def __init__(self, env, host):
        self.env, self.host = env, host
        self.proc = None
        self.endpoints = {}
        self.log = os.path.join(env.data, "%s-%s.out" % (self.column, "v6" if ":" in host else "v4"))

    def popen(self, argv, **kw):
        self.proc = subprocess.Popen(argv, stdout=open(self.log, "ab"), stderr=subprocess.STDOUT,
                                     start_new_session=True, **kw)

    def ready(self):
        return all(wait_port(h, p, self.proc) for (_, h), p in self.endpoints.items())

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        self.proc = None


class Vsftpd(Server):
    column = "vsftpd"

    def start(self):
        port = free_port(self.host)
        empty = os.path.join(self.env.data, "vsftpd-empty")
        os.makedirs(empty, exist_ok=True)
        v6 = ":" in self.host
        listen = ["listen=NO", "listen_ipv6=YES", "listen_address6=" + self.host] if v6 else \
            ["listen=YES", "listen_ipv6=NO", "listen_address=" + self.host, "pasv_address=" + self.host]
        tls = self.env.tls
        conf = os.path.join(self.env.data, "vsftpd-%s.conf" % ("v6" if v6 else "v4"))
        with open(conf, "w") as f:
            f.write("\n".join(listen + [
                "listen_port=%d" % port, "background=NO", "anonymous_enable=NO", "local_enable=YES",
                "write_enable=YES", "local_umask=022", "local_root=" + self.env.root, "check_shell=NO",
                "userlist_enable=NO", "pam_service_name=kvbench_vsftpd", "secure_chroot_dir=" + empty,
                "xferlog_enable=NO", "seccomp_sandbox=NO",
                # TLS offered, with the session reuse vsftpd requires by default
                # on data connections; plain FTP allowed on the same port.
                "ssl_enable=YES", "rsa_cert_file=" + tls.cert, "rsa_private_key_file=" + tls.key,
                "ssl_ciphers=HIGH", "require_ssl_reuse=YES",
                "force_local_logins_ssl=NO", "force_local_data_ssl=NO", ""]))
        self.popen([self.env.peer_sbin("vsftpd"), conf])
        self.endpoints = {("ftp", self.host): port}
        if not v6:
            self.endpoints[("ftps", self.host)] = port
        return self.ready()


class PureFtpd(Server):
    column = "pure-ftpd"

    def start(self):
        port = free_port(self.host)
        # -l unix: local users, -E: no anonymous, -H: no DNS, -u 1: the
        # system user kvbench may log in; -Y 1: TLS allowed (with the
        # certificate and key in one file), on the 127.0.0.1 instance.
        v6 = ":" in self.host
        tls = [] if v6 else ["-Y", "1", "-2", self.env.tls.both]
        self.popen([self.env.peer_sbin("pure-ftpd"), "-S", "%s,%d" % (self.host, port),
                    "-l", "unix", "-E", "-H", "-u", "1", *tls])
        self.endpoints = {("ftp", self.host): port}
        if not v6:
            self.endpoints[("ftps", self.host)] = port
        return self.ready()


class Sshd(Server):
    column = "openssh"

    def start(self):
        port = free_port(self.host)
        folder = os.path.join(self.env.data, "sshd")
        os.makedirs(folder, exist_ok=True)
        host_key = os.path.join(folder, "host_key")
        if not os.path.exists(host_key):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", host_key],
                           check=True, timeout=30)
        keys = os.path.join(folder, "authorized_keys")
        shutil.copy(self.env.client_key + ".pub", keys)
        conf = os.path.join(folder, "sshd_config")
        with open(conf, "w") as f:  # Debian's sshd_config otherwise: its defaults
            f.write("\n".join([
                "ListenAddress " + self.host, "PidFile none", "UsePAM no", "StrictModes no",
                "PermitRootLogin no", "PasswordAuthentication no", "KbdInteractiveAuthentication no",
                "AuthorizedKeysFile " + keys, "Subsystem sftp /usr/lib/openssh/sftp-server", ""]))
        # sshd insists on its privilege separation folder (the package's, empty).
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        self.popen(["/usr/sbin/sshd", "-D", "-e", "-f", conf, "-p", str(port), "-h", host_key])
        self.endpoints = {("sftp", self.host): port}
        return self.ready()


class Kestrova(Server):
    """Our program headless on a data folder of its own, set up with its
    command line as an operator would: address, port, root folder, one
    account (with the client's SSH key), FTPS on the same port with the
    shared certificate, SFTP on the 127.0.0.1 instance. Everything else is
    what a new database holds (connection limits included)."""

    column = "kestrova"
    user = OUR_USER

    def admin(self, *argv, stdin=None):
        done = subprocess.run([self.env.program, "--data-dir", self.folder, *argv], input=stdin,
                              capture_output=True, timeout=30,
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if done.returncode != 0:
            raise RuntimeError("kestrova %s: %s" % (" ".join(argv), done.stderr.decode(errors="replace")))

    def start(self):
        v6 = ":" in self.host
        self.folder = os.path.join(self.env.data, "kestrova-%s" % ("v6" if v6 else "v4"))
        shutil.rmtree(self.folder, ignore_errors=True)
        port = free_port(self.host)
        self.admin("settings", "set", "ip", self.host)
        self.admin("settings", "set", "port", str(port))
        self.admin("settings", "set", "rootdir", self.env.root)
        self.admin("user", "add", OUR_USER, "--rights", "rwdbm", stdin=(PASSWORD + "\n").encode())
        self.endpoints = {("ftp", self.host): port}
        if not v6:
            with open(self.env.client_key + ".pub", "rb") as f:
                self.admin("user", "key", "add", OUR_USER, stdin=f.read())
            self.admin("option", "set", "tls", "on")
            self.admin("option", "set", "tls_certificate", self.env.tls.cert)
            self.admin("option", "set", "tls_private_key", self.env.tls.key)
            sftp_port = free_port(self.host)
            self.admin("option", "set", "sftp_port", str(sftp_port))
            self.endpoints[("ftps", self.host)] = port
            self.endpoints[("sftp", self.host)] = sftp_port
        self.popen([self.env.program, "--headless", "--data-dir", self.folder],
                   env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        return self.ready()


SERVER_KINDS = {"vsftpd": Vsftpd, "pure-ftpd": PureFtpd, "openssh": Sshd, "kestrova": Kestrova}
V4, V6 = "127.0.0.1", "::1"
INSTANCES = [("vsftpd", V4), ("vsftpd", V6), ("pure-ftpd", V4), ("pure-ftpd", V6),
             ("openssh", V4), ("kestrova", V4), ("kestrova", V6)]
