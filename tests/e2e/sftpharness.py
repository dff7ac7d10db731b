"""What the SFTP tests share: a Site serving SFTP too, paramiko logins, OpenSSH's sftp in batch
mode (by password through sshpass, or by key), keys made with ssh-keygen, the host key's
fingerprint as a client sees it. Every wait is bounded."""

import base64
import hashlib
import os
import socket
import subprocess
from pathlib import Path

import paramiko

from kvharness import TIMEOUT, Site, free_port

SSH_OPTIONS = ["-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
               "-o", f"ConnectTimeout={TIMEOUT}"]
PASSWORD_OPTIONS = ["-o", "BatchMode=no", "-o", "NumberOfPasswordPrompts=1"]
KEY_OPTIONS = ["-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes"]


def sftp_site(test=None, **options):
    """A Site (removed after `test`) whose program also serves SFTP, on a port of its own, with
    `options` set."""
    site = Site(test)
    site.sftp_port = free_port()
    site.db.set_options(sftp_port=site.sftp_port, **options)
    return site


def close_even_if_cut(client):
    """Ends a client and its transport; one the server has already cut may
    find its connection gone while it says goodbye, which is no failure."""
    transport = client.get_channel().get_transport()
    try:
        client.close()
    except (OSError, EOFError, paramiko.SSHException):
        pass
    transport.close()


def connect(site, user, password, source=None):
    """A paramiko SFTP client logged in as `user`, from `source` (a loopback address) if given."""
    sock = socket.create_connection(("127.0.0.1", site.sftp_port), timeout=TIMEOUT,
                                    source_address=(source, 0) if source else None)
    transport = paramiko.Transport(sock)
    transport.banner_timeout = transport.auth_timeout = TIMEOUT
    try:
        transport.connect(username=user, password=password)
        client = paramiko.SFTPClient.from_transport(transport)
        client.get_channel().settimeout(TIMEOUT)
        return client
    except Exception:
        transport.close()
        raise


def openssh_batch(site, user, commands, cwd, password=None, keys=(), options=(), timeout=TIMEOUT * 6):
    """OpenSSH's sftp in batch mode: with `password` given through sshpass, otherwise offering
    `keys` in that order (no agent); `options` go before the others."""
    if password is not None:
        argv = ["sshpass", "-p", password, "sftp", *options, *PASSWORD_OPTIONS, *SSH_OPTIONS]
    else:
        argv = ["sftp", *options, *KEY_OPTIONS, *SSH_OPTIONS]
        for key in keys:
            argv += ["-i", key]
    env = {k: v for k, v in os.environ.items() if k != "SSH_AUTH_SOCK"}
    return subprocess.run(argv + ["-P", str(site.sftp_port), "-b", "-", f"{user}@127.0.0.1"],
                          input="\n".join(commands).encode(), cwd=cwd, capture_output=True, timeout=timeout,
                          env=env)


def make_key(folder, name, kind="ed25519"):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    args = ["-t", kind] + (["-b", "3072"] if kind == "rsa" else [])
    subprocess.run(["ssh-keygen", "-q", *args, "-N", "", "-C", f"{name} portatile", "-f", path],
                   check=True, capture_output=True, timeout=TIMEOUT)
    return path


def fingerprint(public_file):
    out = subprocess.run(["ssh-keygen", "-lf", public_file], check=True, capture_output=True,
                         timeout=TIMEOUT).stdout.decode()
    return out.split()[1]


def add_key(site, login, key):
    """`kestrova user key add` with the public half of `key`."""
    added = site.kv("user", "key", "add", login, stdin=Path(key + ".pub").read_bytes())
    assert added.returncode == 0, added.stderr
    return added


def host_key_seen(site):
    """The fingerprint of the host key a client is shown, as "SHA256:..."."""
    scan = paramiko.Transport(("127.0.0.1", site.sftp_port))
    try:
        scan.start_client(timeout=TIMEOUT)
        blob = scan.get_remote_server_key().asbytes()
    finally:
        scan.close()
    return "SHA256:" + base64.b64encode(hashlib.sha256(blob).digest()).decode().rstrip("=")
