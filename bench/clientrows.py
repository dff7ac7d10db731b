"""The rows of bench/clientbench.py: each a real client run as a user runs
it, with its defaults, against one server's endpoint, moving one set of
files one way. A row builds the client's command line; clientbench.py runs
it, times it and checks every byte that arrived."""

import os

SMALL = ["f%03d" % i for i in range(100)]  # src/f000..f099, 4 KiB each
WGET = SMALL[:50]
TREE = ["d%d/f%03d" % (d, i) for d in range(4) for i in range(50)]  # tree/, 200 files
BIG = ["big.bin"]  # 256 MiB
FILE_SETS = {"small": ("src", SMALL), "wget": ("src", WGET), "tree": ("tree", TREE), "big": ("", BIG)}


class Row:
    """key, the client's name (for its version), what the row measures,
    the protocol and address it needs, the file set, "down" or "up", and
    the command builder: build(env, target) -> (argv, standard input)."""

    def __init__(self, key, client, label, protocol, files, direction, build, host="127.0.0.1"):
        self.key, self.client, self.label = key, client, label
        self.protocol, self.host, self.files, self.direction = protocol, host, files, direction
        self.build = build

    @property
    def unit(self):
        return "MB/s" if self.files == "big" else "files/s"


class Target:
    """One run's endpoint and folders: `remote` is the upload folder as the
    client names it (relative to the login folder), `local` the client's
    download folder."""

    def __init__(self, host, port, user, password, remote, local):
        self.host, self.port, self.user, self.password = host, port, user, password
        self.remote, self.local = remote, local

    def url(self, scheme, path, with_login=False):
        host = "[%s]" % self.host if ":" in self.host else self.host
        login = "%s:%s@" % (self.user, self.password) if with_login else ""
        return "%s://%s%s:%d/%s" % (scheme, login, host, self.port, path)


def curl_down(*extra):
    def build(env, t):
        argv = ["curl", "-sS", "--globoff", "-u", "%s:%s" % (t.user, t.password), *extra]
        for name in SMALL:
            argv += [t.url("ftp", "src/" + name), "-o", os.path.join(t.local, name)]
        return argv, None
    return build


def curl_up(env, t):
    files = os.path.join(env.root, "src", "{%s}" % ",".join(SMALL))
    return ["curl", "-sS", "-u", "%s:%s" % (t.user, t.password), "-T", files,
            t.url("ftp", t.remote + "/")], None


def lftp(tls, reverse):
    def build(env, t):
        setup = ("set ftp:ssl-force true; set ssl:verify-certificate no; " if tls
                 else "set ftp:ssl-allow no; ")
        job = ("mirror -R %s %s" % (os.path.join(env.root, "tree"), t.remote) if reverse
               else "mirror tree %s" % t.local)
        return ["lftp", "-c", "%sopen -u %s,%s -p %d %s; %s" % (setup, t.user, t.password, t.port,
                                                               t.host, job)], None
    return build


def ftplib_client(direction):
    def build(env, t):
        remote, local = ("src", t.local) if direction == "down" else (t.remote, os.path.join(env.root, "src"))
        return ["/usr/bin/python3", os.path.join(env.here, "ftplibclient.py"), t.host, str(t.port),
                t.user, t.password, direction, remote, local, *SMALL], None
    return build


def wget_down(env, t):
    # wget's own explicit FTPS: an ftps:// URL (AUTH TLS on the FTP port;
    # --ftps-implicit would be the other kind), data sessions resumed.
    return ["wget", "-nv", "--no-check-certificate", "-P", t.local,
            *[t.url("ftps", "src/" + n, with_login=True) for n in WGET]], None


def rclone(kind, direction):
    def build(env, t):
        if kind == "sftp":
            remote = ":sftp,host=%s,port=%d,user=%s,key_file=%s:" % (t.host, t.port, t.user, env.client_key)
        else:
            remote = ":ftp,host=%s,port=%d,user=%s,pass=%s" % (t.host, t.port, t.user,
                                                               env.obscured(t.password))
            remote += ",explicit_tls=true,no_check_certificate=true:" if kind == "ftps" else ":"
        pair = ([remote + "tree", t.local] if direction == "down"
                else [os.path.join(env.root, "tree"), remote + t.remote])
        return ["rclone", "--config", env.rclone_config, "copy", *pair], None
    return build


def ssh_options(env, t):
    return ["-i", env.client_key, "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes",
            "-o", "UserKnownHostsFile=" + env.known_hosts, "-o", "StrictHostKeyChecking=accept-new",
            "-o", "LogLevel=ERROR", "-P", str(t.port)]


def sftp_batch(files, direction):
    def build(env, t):
        if files == "big":
            line = ("get big.bin %s/big.bin" % t.local if direction == "down"
                    else "put %s %s/big.bin" % (os.path.join(env.root, "big.bin"), t.remote))
        else:  # f0* is f000..f099
            line = ("get src/f0* %s/" % t.local if direction == "down"
                    else "put %s/f0* %s/" % (os.path.join(env.root, "src"), t.remote))
        return ["sftp", *ssh_options(env, t), "-b", "-", "%s@%s" % (t.user, t.host)], line + "\n"
    return build


def scp(files, direction):
    def build(env, t):
        at = "%s@%s:" % (t.user, t.host)
        if files == "big":
            pair = ([at + "big.bin", t.local + "/"] if direction == "down"
                    else [os.path.join(env.root, "big.bin"), at + t.remote + "/"])
        else:
            pair = ([at + "src/f0*", t.local + "/"] if direction == "down"
                    else [*(os.path.join(env.root, "src", n) for n in SMALL), at + t.remote + "/"])
        return ["scp", *ssh_options(env, t), *pair], None
    return build


ROWS = [
    Row("curl_pasv", "curl", "100 files of 4 KiB down, PASV (--disable-epsv)", "ftp", "small", "down",
        curl_down("--disable-epsv")),
    Row("curl_epsv", "curl", "100 files of 4 KiB down, EPSV", "ftp", "small", "down", curl_down()),
    Row("curl_epsv6", "curl", "100 files of 4 KiB down, EPSV over IPv6 [::1]", "ftp", "small", "down",
        curl_down(), host="::1"),
    Row("curl_up", "curl", "100 files of 4 KiB up (-T \"{f000,...}\"), EPSV", "ftp", "small", "up", curl_up),
    Row("lftp_down", "lftp", "mirror, 200 files of 4 KiB in 4 folders", "ftp", "tree", "down", lftp(False, False)),
    Row("lftp_up", "lftp", "mirror -R, 200 files", "ftp", "tree", "up", lftp(False, True)),
    Row("rclone_ftp_down", "rclone", "copy down, 200 files, FTP", "ftp", "tree", "down", rclone("ftp", "down")),
    Row("rclone_ftp_up", "rclone", "copy up, 200 files, FTP", "ftp", "tree", "up", rclone("ftp", "up")),
    Row("lftp_ftps_down", "lftp", "mirror, 200 files, FTPS", "ftps", "tree", "down", lftp(True, False)),
    Row("lftp_ftps_up", "lftp", "mirror -R, 200 files, FTPS", "ftps", "tree", "up", lftp(True, True)),
    Row("ftplib_up", "ftplib", "FTPS storbinary, 100 files of 4 KiB", "ftps", "small", "up", ftplib_client("up")),
    Row("ftplib_down", "ftplib", "FTPS retrbinary, 100 files of 4 KiB", "ftps", "small", "down",
        ftplib_client("down")),
    Row("wget_ftps", "wget", "50 files of 4 KiB down, FTPS (ftps:// URLs)", "ftps", "wget", "down", wget_down),
    Row("rclone_ftps_down", "rclone", "copy down, 200 files, FTPS", "ftps", "tree", "down", rclone("ftps", "down")),
    Row("rclone_ftps_up", "rclone", "copy up, 200 files, FTPS", "ftps", "tree", "up", rclone("ftps", "up")),
    Row("rclone_sftp_down", "rclone", "copy down, 200 files, SFTP", "sftp", "tree", "down", rclone("sftp", "down")),
    Row("rclone_sftp_up", "rclone", "copy up, 200 files, SFTP", "sftp", "tree", "up", rclone("sftp", "up")),
    Row("sftp_small_down", "sftp", "sftp -b, get 100 files of 4 KiB", "sftp", "small", "down",
        sftp_batch("small", "down")),
    Row("sftp_small_up", "sftp", "sftp -b, put 100 files of 4 KiB", "sftp", "small", "up", sftp_batch("small", "up")),
    Row("sftp_big_down", "sftp", "sftp -b, get 256 MiB", "sftp", "big", "down", sftp_batch("big", "down")),
    Row("sftp_big_up", "sftp", "sftp -b, put 256 MiB", "sftp", "big", "up", sftp_batch("big", "up")),
    Row("scp_small_down", "scp", "scp, 100 files of 4 KiB down", "sftp", "small", "down", scp("small", "down")),
    Row("scp_small_up", "scp", "scp, 100 files of 4 KiB up", "sftp", "small", "up", scp("small", "up")),
    Row("scp_big_down", "scp", "scp, 256 MiB down", "sftp", "big", "down", scp("big", "down")),
    Row("scp_big_up", "scp", "scp, 256 MiB up", "sftp", "big", "up", scp("big", "up")),
]
