// Italian explanations of ACME failures.
#include "core/AcmeExplanation.h"

namespace kv {

namespace {

using Source = acme::AcmeProblem::Source;

// The CA's own words, kept after the explanation so nothing is lost.
QString withCaWords(const QString& explanation, const acme::AcmeProblem& problem) {
    QString words = problem.detail;
    if (!problem.subproblems.isEmpty())
        words = problem.subproblems.join(QStringLiteral("; "));
    if (words.isEmpty())
        return explanation;
    return explanation + QStringLiteral(" (") + words + QLatin1Char(')');
}

QString unreachableChallenge(const AcmeAttemptContext& context) {
    return QStringLiteral("L'autorità di certificazione non è riuscita a collegarsi a questo PC "
                          "sulla porta %1 per la verifica %2: la porta %1 del router deve essere "
                          "inoltrata a questo PC, e nessun firewall deve bloccarla")
        .arg(context.challengePort)
        .arg(context.challengeType);
}

QString names(const AcmeAttemptContext& context) {
    return context.domains.join(QStringLiteral(", "));
}

} // namespace

QString explainChallengePortBusy(const QString& reason, const AcmeAttemptContext& context) {
    return QStringLiteral("Impossibile rispondere alla verifica %1 sulla porta %2: %3. "
                          "Liberare la porta, oppure scegliere un'altra porta (acme_%4_port) e "
                          "inoltrare a questa la porta %5 del router")
        .arg(context.challengeType)
        .arg(context.challengePort)
        .arg(reason,
             context.challengeType == QLatin1String("tls-alpn-01") ? QStringLiteral("tls")
                                                                   : QStringLiteral("http"),
             context.challengeType == QLatin1String("tls-alpn-01") ? QStringLiteral("443")
                                                                   : QStringLiteral("80"));
}

QString explainAcmeProblem(const acme::AcmeProblem& problem, const AcmeAttemptContext& context) {
    switch (problem.source) {
    case Source::Transport: {
        const QString detail = problem.detail;
        if (detail.contains(QLatin1String("certificate"), Qt::CaseInsensitive) ||
            detail.contains(QLatin1String("SSL"), Qt::CaseInsensitive))
            return QStringLiteral("Il certificato TLS dell'autorità di certificazione non è "
                                  "riconosciuto (%1): per una CA privata o di prova indicarne il "
                                  "certificato in acme_ca_file%2")
                .arg(detail, context.caFileOption.isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (ora: %1)").arg(context.caFileOption));
        return QStringLiteral("Autorità di certificazione non raggiungibile (%1): controllare la "
                              "connessione a Internet e l'indirizzo in acme_directory")
            .arg(detail);
    }
    case Source::Timeout:
        return QStringLiteral("L'autorità di certificazione non ha concluso la verifica in tempo "
                              "(%1): si riprova più tardi")
            .arg(problem.detail);
    case Source::Local:
        return QStringLiteral("Errore locale nella richiesta del certificato: %1")
            .arg(problem.detail);
    case Source::Answer:
        return QStringLiteral("Risposta inattesa dall'autorità di certificazione: %1")
            .arg(problem.detail);
    case Source::Ca:
        break;
    }
    const QString type = problem.shortType();
    if (type == QLatin1String("connection") || type == QLatin1String("unauthorized") ||
        type == QLatin1String("incorrectResponse"))
        return withCaWords(unreachableChallenge(context), problem);
    if (type == QLatin1String("dns"))
        return withCaWords(
            QStringLiteral("Il nome %1 non punta a questo PC: il DNS (o il "
                           "servizio di DNS dinamico) deve indicare l'indirizzo "
                           "pubblico del router")
                .arg(problem.identifier.isEmpty() ? names(context) : problem.identifier),
            problem);
    if (type == QLatin1String("invalidContact") || type == QLatin1String("unsupportedContact"))
        return withCaWords(QStringLiteral("L'indirizzo e-mail indicato in acme_email è stato "
                                          "rifiutato: correggerlo o lasciarlo vuoto"),
                           problem);
    if (type == QLatin1String("rejectedIdentifier") ||
        type == QLatin1String("unsupportedIdentifier"))
        return withCaWords(QStringLiteral("L'autorità di certificazione rifiuta il nome %1: "
                                          "usare un nome di dominio pubblico in acme_domains")
                               .arg(names(context)),
                           problem);
    if (type == QLatin1String("rateLimited"))
        return withCaWords(QStringLiteral("Troppe richieste all'autorità di certificazione "
                                          "(limite raggiunto): si riprova più tardi, senza "
                                          "richiedere rinnovi a mano nel frattempo"),
                           problem);
    if (type == QLatin1String("badNonce") || type == QLatin1String("serverInternal"))
        return withCaWords(QStringLiteral("L'autorità di certificazione ha un problema "
                                          "temporaneo: si riprova più tardi"),
                           problem);
    if (problem.detail.contains(QLatin1String("clock"), Qt::CaseInsensitive) ||
        (problem.detail.contains(QLatin1String("time"), Qt::CaseInsensitive) &&
         type == QLatin1String("malformed")))
        return withCaWords(QStringLiteral("L'orologio di questo PC sembra sbagliato: "
                                          "sincronizzarlo (ad esempio con NTP) e riprovare"),
                           problem);
    return withCaWords(QStringLiteral("L'autorità di certificazione ha rifiutato la richiesta "
                                      "(%1, passo %2)")
                           .arg(type, problem.step),
                       problem);
}

} // namespace kv
