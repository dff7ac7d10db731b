#pragma once
// Public key lines made with ssh-keygen, and the fingerprints ssh-keygen -lf
// printed for those whose fingerprint a test reads.

namespace kv::testing {

inline constexpr const char* kEd25519Line =
    "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAILaFngqK2+H5uJBrjTjWO892n8ed5xwpUSRE31Af5gg/ user@host "
    "ed25519";
inline constexpr const char* kEd25519Fingerprint =
    "SHA256:vmNk1volqB/DM2R1m6JBy8So+M6UXVFmMZjMfqDmh/I";
inline constexpr const char* kEcdsa256Line =
    "ecdsa-sha2-nistp256 "
    "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBMMgGImvCTyfxTGh/"
    "0t82qTtEftd0BLcjeGsZ5HDGBSvWjz261NrBwNlAXu0IyznIzG1AyMQUVhOXT5v11P/6a4= user@host ecdsab256";
inline constexpr const char* kEcdsa256Fingerprint =
    "SHA256:Ij76XnjwGuGy4gAetIWGpgqhBhjbNO37cxk7foBkbYE";
inline constexpr const char* kEcdsa384Line =
    "ecdsa-sha2-nistp384 "
    "AAAAE2VjZHNhLXNoYTItbmlzdHAzODQAAAAIbmlzdHAzODQAAABhBP+ZlEEvDBIV0GSByiAi43AaPu3aUArT0mnK/"
    "TRQ5zvEWO05Wxkl1iMI8LR3GU84G4NYyZH9DdFjQRQX2wDUUP5DHmZJzuejQFZlKg0NEfc1CbLy95Ch5vAO5sPQfDFuhg="
    "= user@host ecdsab384";
inline constexpr const char* kEcdsa384Fingerprint =
    "SHA256:WS/h4YpEuZLzChJ5d2Kds6eJ6MsCBQBJS3bHTlI3HOE";
inline constexpr const char* kEcdsa521Line =
    "ecdsa-sha2-nistp521 "
    "AAAAE2VjZHNhLXNoYTItbmlzdHA1MjEAAAAIbmlzdHA1MjEAAACFBAGuBWTpie3FM3yEiDQcqSoCFnh4V4VIGCQTlZPFk+"
    "yAzHdGZXQE+0nw6BdkcQQ9dnsRhoxBRfpDdnwZPD9dc3S6TQB2Rktcgj4SO+tOZ/"
    "BpgaAHQgcnluXSIXayRWwi4ZSJ41gTWDyko8QSzBLAOMLNE+F6EWEtdkbh45FbYJjgTydx5Q== user@host "
    "ecdsab521";
inline constexpr const char* kEcdsa521Fingerprint =
    "SHA256:QGBMLo/ZgEqPfHzjvHAyPqi+O+tfESJua6Kn2RwgxE8";
inline constexpr const char* kRsa2048Line =
    "ssh-rsa "
    "AAAAB3NzaC1yc2EAAAADAQABAAABAQCVhxhEf09pj8UPTcr+EbaNA+"
    "dSUPvGSg80eNpAdHUaXz0ZWlWkYUl06vJgE1Pdj9dp29tF3/"
    "REjPmzYdo2460KWrcGUCEDzN6pq56OQnELnhiZMS140JdptAIv30C50zlO8wvo0ZrBGmVy01xQnLmW4cELblFxfUTJlOk1"
    "zz3eSg077l5vq7BoI5WzEUCt4r1iqlVRRkogZHTVF0C5fgio6tjg92CXmQ1FstcQq1L2Wf6eIm/"
    "zeh61Uz0bbDRBojwfqT/v4GeCjgD8nqGvAWJBcT7ghqr9WjBNk0QkqEv0TMBhFrCOIuf/xolZDElDMpHL/"
    "6rMHX3lL+Erg1BCY/bd user@host rsab2048";
inline constexpr const char* kRsa2048Fingerprint =
    "SHA256:5BYfv0A6DpK5zN7UEjbbTi6SWjn4zIy03TinsI6ajgM";
inline constexpr const char* kRsa1024Line =
    "ssh-rsa "
    "AAAAB3NzaC1yc2EAAAADAQABAAAAgQDMNAVe1GjbHyhWwh2GDtZvsqU9ooTGY7D8KSsDgp1PBxJT9O1ZaczySskNX1+"
    "sDw3LePtedTN001R6ZaQ64k5E/"
    "HOXmOdUkWXhdBJjOoNcV11LxMciZ3P6rxrYBxoyG9kroxN0ElW9rJtAGY5p9SLJWurKojNeWt8uPXKeaXiCPQ== "
    "user@host rsab1024";
inline constexpr const char* kDsaLine =
    "ssh-dss "
    "AAAAB3NzaC1kc3MAAACBANcXqiBJLKmihTZlcgFr/"
    "fYjMLV9jccCdYgSmbSPH7tADuN117YLQXDkC9M6eZRhAsdfLXfz3k5qzNCcSqvsTJWssR9M1AoldjyqkAwvRAd6v44IOdN"
    "k8fRbQBzCfSVgEbNE44AfbdZg+"
    "4MmD4JCwfXNIJnP6s5bb1xjPHPrqxbvAAAAFQDLXNrmiUclxGrT0HSeqUwOKllXMQAAAIEAs82Qhx4yJMLlmjl+"
    "f7uWmvgnPBBmKt4Ul9Q4L1zl+"
    "ca2p6wiRivCDiXrDsCy10iJ2Tyq0A2DZ01gBcVNCgAfifMspuAZAJdVnnJFXSV6TfEJVjNt6fPdFa8BVsTIMEJWsBk49t3"
    "m69Od1iZXB5P1AJjtx11xi92ScX9g6b1ya6oAAACBAMhnZht6qKIHjrR3EqaS5bfZNziQgFOznA0PJe1xeYjpgrEXSQsFn"
    "MlIOUERKSKSVrR7DqH2AOtCsVa1tq2u+NnZY5kiqCSIrTy9nYxHEWb3kEKatT9MB/"
    "OoOGxQTudeKkKWpFXOFf98PKsGeIUhCADdzpdiqOM6X11hY6ut/qEj user@host dsa";

} // namespace kv::testing
