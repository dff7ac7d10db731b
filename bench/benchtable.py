"""The comparison table of bench/run: one column per server, the best of
several rounds per row, ratios of ours to each peer, and the goals checked
under the table."""

import json

GIB = float(1 << 30)
# Server CPU time (all its processes) behind the rates: less disturbed by
# other load on the machine than the rates themselves. Plain and FTPS alike.
CPU_ROWS = [
    ("download_cpu_per_gib", "Server CPU per GiB down", "s", 1, False),
    ("upload_cpu_per_gib", "Server CPU per GiB up", "s", 1, False),
    ("small_cpu_us", "Server CPU per small file", "us", 1, False),
    ("small_client_cpu_us", "Client CPU per small file (the same python3 ftplib for all)", "us",
     1, False),
]
# key, label, unit text, scale, higher is better
ROWS = [
    ("download_Bps", "Download {big}", "GiB/s", 1 / GIB, True),
    ("upload_Bps", "Upload {big}", "GiB/s", 1 / GIB, True),
    ("small_up_fps", "{small} files of 4 KiB up, one session", "files/s", 1, True),
    ("small_down_fps", "{small} files of 4 KiB down, one session", "files/s", 1, True),
    ("logins_ps", "Logins, {conc} concurrent clients", "logins/s", 1, True),
    ("idle_kib", "RSS per idle session ({idle} open)", "KiB", 1, False),
    ("parallel_fps", "{sessions} sessions side by side, {small} files of 4 KiB down each",
     "files/s", 1, True),
    ("noop_p99_s", "NOOP round trip p99, second session during small files", "ms", 1000, False),
    ("list_s", "LIST of {entries} entries", "ms", 1000, False),
    ("nlst_s", "NLST of {entries} entries", "ms", 1000, False),
    ("mlsd_s", "MLSD of {entries} entries", "ms", 1000, False),
    *CPU_ROWS,
    # Run with --only busy_noop (bench/run --logins).
    ("busy_logins_ps", "Logins, {conc} concurrent clients, with NOOP probe", "logins/s", 1, True),
    ("noop_median_ms", "NOOP round trip meanwhile, median", "ms", 1, False),
    ("noop_p99_ms", "NOOP round trip meanwhile, p99", "ms", 1, False),
    ("parallel_cpu_us", "Server CPU per small file, {sessions} sessions", "us", 1, False),
]


def _merge_rounds(paths, rows):
    """One result per server; with several rounds of the same server the best
    value of each measurement is kept, which filters out bursts of load from
    other programs on the machine."""
    merged = {}
    for p in paths:
        with open(p) as f:
            r = json.load(f)
        m = merged.setdefault(r["server"], dict(r))
        for key, _, _, _, higher in rows:
            if key in r:
                if key not in m:
                    m[key] = r[key]
                else:
                    m[key] = max(m[key], r[key]) if higher else min(m[key], r[key])
        m["rounds"] = m.get("rounds", 0) + 1
    return list(merged.values())


def _number(v):
    return "{:,.0f}".format(v) if abs(v) >= 100 else "%.3g" % v


def _size_text(n):
    return "%d GiB" % (n >> 30) if n >= 1 << 30 else "%d MiB" % (n >> 20)


def table(paths, ours_name, rows=ROWS, targets=None):
    """Prints the comparison of the JSON results in `paths` as a Markdown
    table, with ratios to the peers and, below it, the goals `targets`
    checks (the plain benchmark's by default)."""
    results = _merge_rounds(paths, rows)
    ours = next((r for r in results if r["server"] == ours_name), None)
    # Other builds of ours (kestrova-sha512crypt) are shown but are no peers.
    peers = [r for r in results if not r["server"].startswith(ours_name.split("-")[0])]
    names = [r["server"] for r in results]
    head = ["Measurement", "unit"] + names
    if ours and peers:
        head += ["ours/best peer"] + ["ours/" + p["server"] for p in peers]
    first = results[0]
    fill = {"big": _size_text(first.get("big_bytes", 0)), "small": "{:,}".format(first.get("small_count", 0)),
            "conc": first.get("concurrency", 0), "idle": first.get("idle_sessions", 0),
            "entries": "{:,}".format(first.get("list_entries", 0)),
            "sessions": first.get("sessions", 0)}
    lines = []
    for key, label, unit, scale, higher in rows:
        if not any(key in r for r in results):
            continue  # a measurement this run left out
        row = [label.format(**fill), unit]
        for r in results:
            row.append(_number(r[key] * scale) if key in r else "fail")
        if ours and peers:
            vals = [p[key] for p in peers if key in p]
            if key in ours and vals:
                best = max(vals) if higher else min(vals)
                row.append(_ratio(ours[key], best))
                row += [_ratio(ours[key], p[key]) if key in p else "-" for p in peers]
            else:
                row += ["-"] * (1 + len(peers))
        lines.append(row)
    print("\n".join(markdown(head, lines)))
    print()
    print("Ratios are ours divided by the peer: above 1.0 is better for rates, "
          "below 1.0 is better for KiB, ms and CPU time.")
    if ours and peers:
        (targets or _targets)(ours, peers)


def markdown(head, lines):
    """The lines of a Markdown table with aligned columns."""
    widths = [max(len(str(x)) for x in col) for col in zip(head, *lines)]
    fmt = "| " + " | ".join("%%-%ds" % w for w in widths) + " |"
    return ([fmt % tuple(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
            + [fmt % tuple(row) for row in lines])


def _ratio(a, b):
    if not b:
        return "-"
    r = a / b
    return "%.2fx" % r if r >= 0.1 else "%.2gx" % r


def _targets(ours, peers):
    """Checks our numbers against the goals set for the engine."""
    def best(key, higher=True):
        vals = [p[key] for p in peers if key in p]
        return (max(vals) if higher else min(vals)) if vals else None

    checks = []
    for key, label in (("download_Bps", "download"), ("upload_Bps", "upload"),
                       ("small_up_fps", "small files up"), ("small_down_fps", "small files down")):
        b = best(key)
        if b and key in ours:
            checks.append(("%s >= 1.0x best peer" % label, ours[key] / b >= 1.0))
    b = best("list_s", higher=False)
    if b and "list_s" in ours:
        checks.append(("LIST no slower than best peer", ours["list_s"] <= b))
    vs = next((p for p in peers if p["server"] == "vsftpd" and "logins_ps" in p), None)
    if vs and "logins_ps" in ours:
        checks.append(("logins/s >= 3x vsftpd", ours["logins_ps"] >= 3 * vs["logins_ps"]))
    if "idle_kib" in ours:
        checks.append(("<= 64 KiB per idle session", ours["idle_kib"] <= 64))
    b = best("busy_logins_ps")
    if b and "busy_logins_ps" in ours:
        checks.append(("logins/s under the NOOP probe >= best peer", ours["busy_logins_ps"] >= b))
    if "noop_p99_ms" in ours:
        checks.append(("NOOP p99 < 50 ms while clients log in", ours["noop_p99_ms"] < 50))
    checks += _small_file_and_listing_goals(ours, peers)
    print()
    for text, ok in checks:
        print("  %-4s %s" % ("ok" if ok else "MISS", text))
    for text in _one_session_bound(ours, peers):
        print("  note %s" % text)


def _one_session_bound(ours, peers):
    """One session's small files go back and forth between client and
    server, so each file costs the client's CPU plus the server's: how much
    of the wall time that explains, and the server CPU per file that a rate
    of 1.2x Pure-FTPd's would take with this client."""
    pure = next((p for p in peers if p["server"] == "pure-ftpd"), None)
    keys = ("small_up_fps", "small_down_fps", "small_cpu_us", "small_client_cpu_us")
    if not pure or not all(k in ours for k in keys) or "small_cpu_us" not in pure:
        return []
    wall_us = (1 / ours["small_up_fps"] + 1 / ours["small_down_fps"]) / 2 * 1e6
    client = ours["small_client_cpu_us"]
    return ["one session: client %.0f + server %.0f us of CPU per file = %.2f of its %.0f us"
            % (client, ours["small_cpu_us"], (client + ours["small_cpu_us"]) / wall_us, wall_us),
            "one session: 1.2x pure-ftpd's rate takes at most %.0f us of server CPU per file"
            " (pure-ftpd: %.0f)" % ((client + pure["small_cpu_us"]) / 1.2 - client,
                                   pure["small_cpu_us"])]


def _small_file_and_listing_goals(ours, peers):
    """The goals against Pure-FTPd (the fastest peer on small files and
    listings) for many small files, several sessions and big listings."""
    pure = next((p for p in peers if p["server"] == "pure-ftpd"), None)
    if not pure:
        return []
    checks = []

    def ratio_check(key, text, test):
        if key in ours and key in pure and pure[key]:
            checks.append((text, test(ours[key] / pure[key])))

    ratio_check("small_up_fps", "small files up >= 1.2x pure-ftpd", lambda r: r >= 1.2)
    ratio_check("small_down_fps", "small files down >= 1.2x pure-ftpd", lambda r: r >= 1.2)
    ratio_check("small_cpu_us", "CPU per small file below pure-ftpd", lambda r: r < 1.0)
    ratio_check("parallel_fps", "sessions side by side >= pure-ftpd", lambda r: r >= 1.0)
    for key in ("list_s", "nlst_s", "mlsd_s"):
        ratio_check(key, "%s <= 0.8x pure-ftpd's time" % key[:4].upper(), lambda r: r <= 0.8)
    if "noop_p99_s" in ours:
        checks.append(("NOOP p99 < 50 ms during small files", ours["noop_p99_s"] < 0.05))
    return checks
