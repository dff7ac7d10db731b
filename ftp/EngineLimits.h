#pragma once
// Hard limits of the engine. Defaults are generous enough for real use (200
// clients from one address all get their greeting) and small enough that no
// client can make the server hold much memory.

#include "session/SessionLimits.h"
#include "settings/OptionCatalog.h"

namespace kv::ftp {

// Longest command line, in bytes without the line end. Longer lines get a 500
// reply and are skipped up to the next line end; the connection survives.
inline constexpr int kMaxCommandLine = 4096;
// Wrong passwords in a row before the engine closes the connection.
inline constexpr int kMaxFailedLogins = 5;
// How long a transfer waits for its data connection.
inline constexpr int kDataConnectTimeoutMs = 30000;

// TLS handshakes of connections refused on the implicit TLS port (to send
// them the reason over TLS) at the same time; past that, refused
// connections are closed without a reply. Each holds some 50 KiB until it
// is done or its time limit passes.
inline constexpr int kTlsRefusalsAtOnce = 32;

struct EngineLimits {
    // Open control connections in all and from one address; 0: no limit.
    // The catalog's defaults: what an options table without the rows keeps.
    int maxConnections = settings::defaults::kMaxConnections;
    int maxConnectionsPerAddress = settings::defaults::kMaxConnectionsPerIp;
    int dataConnectTimeoutMs = kDataConnectTimeoutMs;
    // Longest TLS handshake, on control and data connections alike.
    int tlsHandshakeTimeoutMs = 10000;
    // The answer to PASV and EPSV (and the TLS session ticket that goes with
    // it) leaves no sooner than this many microseconds after the command
    // arrived, for clients on this machine that once connected to the
    // passive port about a second late. curl looks for the answer once, soon
    // after sending the command; an answer already there makes it watch no
    // socket at all, and it sleeps up to a second before it connects (with
    // 50 µs curl still slept in some runs on a 2-core machine, with 150 µs in
    // none). Over a network the round trip outlasts this. 0: at once.
    int passiveReplyDelayUs = 150;
    // Passive data ports are picked at random from this range (the dynamic
    // ports), not left to the kernel: with many finished data connections
    // waiting out TIME_WAIT, the kernel's own search for a free port gets
    // slow for every program on the machine.
    int passivePortFirst = 49152;
    int passivePortLast = 65535;
};

} // namespace kv::ftp
