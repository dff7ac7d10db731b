// Times one password verification per stored hash kind: yescrypt at each
// cost this program could choose (1 to 5; 5 is Debian's default "$y$j9T$"),
// SHA-512-crypt and bcrypt with libcrypt's default rounds. Prints the
// fastest, median and slowest of N runs in milliseconds; the fastest is the
// figure for an idle machine, the median what a loaded one gives.

#include "access/PasswordHash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <algorithm>
#include <crypt.h>
#include <cstdio>

namespace {

QString hashOf(const char* prefix, unsigned long cost, const char* password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(prefix, cost, nullptr, 0, setting, sizeof setting))
        return {};
    crypt_data data{};
    const char* hash = crypt_rn(password, setting, &data, sizeof data);
    return hash ? QString::fromLatin1(hash) : QString();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;
    struct Kind {
        const char* name;
        QString hash;
    };
    QList<Kind> kinds;
    for (unsigned long cost = 1; cost <= 5; ++cost)
        kinds.append({cost == kv::access::kYescryptCost ? "yescrypt (chosen)" : "yescrypt",
                      cost == 1
                          ? kv::access::hashPassword(QStringLiteral("bench")).value_or(QString())
                          : hashOf("$y$", cost, "bench")});
    kinds.append({"SHA-512-crypt", hashOf("$6$", 0, "bench")});
    kinds.append({"bcrypt", hashOf("$2b$", 0, "bench")});

    std::printf("%-20s %-10s %8s %8s %8s  (ms, %d runs)\n", "kind", "setting", "fastest", "median",
                "slowest", runs);
    for (const Kind& kind : kinds) {
        if (kind.hash.isEmpty()) {
            std::printf("%-20s libcrypt made no hash\n", kind.name);
            continue;
        }
        QList<double> times;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer timer;
            timer.start();
            const bool ok = kv::access::passwordMatches(kind.hash, QStringLiteral("bench"));
            times.append(double(timer.nsecsElapsed()) / 1e6);
            if (!ok) {
                std::printf("%-20s does not verify\n", kind.name);
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        // The kind and its cost parameters, without the salt.
        const bool withCost = !kind.hash.startsWith(QLatin1String("$6$"));
        const QString setting = kind.hash.section(QLatin1Char('$'), 1, withCost ? 2 : 1,
                                                  QString::SectionIncludeLeadingSep) +
                                QLatin1Char('$');
        std::printf("%-20s %-10s %8.2f %8.2f %8.2f\n", kind.name, qPrintable(setting),
                    times.first(), times[times.size() / 2], times.last());
    }
    return 0;
}
