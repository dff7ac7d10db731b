#pragma once
// What passes between the ACME steps and the transport that carries them:
// one HTTP request, its answer, and a failure kept as a value (the CA's
// problem type and detail stay as the CA wrote them, so the operator's
// explanation can be chosen from them).

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace kv::acme {

struct AcmeRequest {
    enum class Method { Get, Head, Post };
    Method method = Method::Get;
    QString url;
    QByteArray body;   // the JWS of a POST
    QByteArray accept; // empty: any
};

struct AcmeResponse {
    int status = 0;                        // 0: no answer came
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QString transportError; // libcurl's reason when status is 0
};

struct AcmeProblem {
    enum class Source {
        Transport, // no answer: connection, TLS, time-out
        Ca,        // an RFC 7807 problem document from the CA
        Answer,    // an answer we cannot use
        Local,     // a key, a file or a request of ours
        Timeout,   // the CA kept us waiting too long
    };
    Source source = Source::Ca;
    QString step;   // the request that failed: "newAccount", "challenge", …
    QString type;   // "urn:ietf:params:acme:error:connection", …
    QString detail; // the CA's words, or ours for the other sources
    int httpStatus = 0;
    QString identifier;      // the domain, when the problem is about one
    QStringList subproblems; // "domain: detail", one per name

    // The part after "urn:ietf:params:acme:error:", e.g. "badNonce".
    QString shortType() const;
};

// The problem document in `response`, or one describing the status when
// the body is not one.
AcmeProblem problemFromResponse(const QString& step, const AcmeResponse& response);

} // namespace kv::acme

Q_DECLARE_METATYPE(kv::acme::AcmeRequest)
Q_DECLARE_METATYPE(kv::acme::AcmeResponse)
Q_DECLARE_METATYPE(kv::acme::AcmeProblem)
