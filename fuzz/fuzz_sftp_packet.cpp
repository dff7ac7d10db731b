// Whatever bytes an SFTP client sends after login, the framer hands out only
// packets within the limit, the parser answers with fields or an error, and
// the session answers each packet with one well-formed reply naming the
// request's id. The session here has no grant, so nothing on disk is touched.

#include "fuzz/FuzzRule.h"
#include "sftp/SftpPacket.h"
#include "sftp/SftpRequests.h"

#include <QtEndian>

#include <cstdint>

using namespace kv::sftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    PacketFramer framer;
    // Split where the first byte says, so packets arrive in pieces too.
    const qsizetype cut = size > 0 ? qsizetype(data[0]) % (qsizetype(size) + 1) : 0;
    framer.append(bytes.first(cut));
    SftpRequests requests(std::make_unique<kv::files::FileService>(nullptr, false), {});
    int handled = 0;
    const auto drain = [&] {
        while (const std::optional<QByteArray> payload = framer.next()) {
            require(payload->size() > 0 && quint32(payload->size()) <= kMaxPacketLength,
                    "payload within the limit");
            const ParsedRequest parsed = parseRequest(*payload);
            const QByteArray reply = requests.answer(*payload);
            require(reply.size() >= 9, "a reply holds a type and an id");
            require(qFromBigEndian<quint32>(reply.constData()) == quint32(reply.size() - 4),
                    "the reply's length is its size");
            require(quint32(reply.size()) <= kMaxPacketLength + 64, "the reply within the limit");
            const quint8 type = quint8(reply[4]);
            require(type == Version || (type >= StatusReply && type <= AttrsReply),
                    "a reply type a client knows");
            if (parsed.ok() && parsed.request.type != Init)
                require(qFromBigEndian<quint32>(reply.constData() + 5) == parsed.request.id,
                        "the reply names the request");
            ++handled;
        }
    };
    drain();
    framer.append(bytes.sliced(cut));
    drain();
    require(handled < 1 << 20, "bounded");
    return 0;
}
