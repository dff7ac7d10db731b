#include "acme/PublishedChallenges.h"

#include "acme/ChallengeAnswers.h"

namespace kv::acme {

std::optional<QByteArray> PublishedChallenges::http01Body(const QByteArray& path) const {
    for (const PublishedAnswer& answer : answers_) {
        if (answer.challenge.type == QLatin1String("http-01") &&
            path == acme::http01Path(answer.challenge.token))
            return acme::http01Body(answer.challenge.keyAuthorization);
    }
    return std::nullopt;
}

const PublishedAnswer* PublishedChallenges::tlsAlpnAnswer(const QString& serverName) const {
    const PublishedAnswer* found = nullptr;
    int count = 0;
    for (const PublishedAnswer& answer : answers_) {
        if (answer.challenge.type != QLatin1String("tls-alpn-01"))
            continue;
        ++count;
        if (serverName.isEmpty())
            found = &answer;
        else if (answer.challenge.domain.compare(serverName, Qt::CaseInsensitive) == 0)
            return &answer;
    }
    return serverName.isEmpty() && count == 1 ? found : nullptr;
}

} // namespace kv::acme
