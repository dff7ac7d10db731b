#pragma once
// A scratch folder tree for file-system tests: folders, files, links and
// pipes below one temporary folder, named by paths relative to it. Each
// maker returns false on the first failure, for QVERIFY.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

class TempTree {
public:
    bool isValid() const { return tmp_.isValid(); }
    QString path() const { return tmp_.path(); }
    QString at(const QString& rel) const { return tmp_.path() + '/' + rel; }

    bool folders(const QStringList& rels) const {
        for (const QString& rel : rels) {
            if (!QDir().mkpath(at(rel)))
                return false;
        }
        return true;
    }
    bool files(const QStringList& rels, const QByteArray& content = "12345") const {
        for (const QString& rel : rels) {
            QFile f(at(rel));
            if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
                return false;
        }
        return true;
    }
    // Each one "link -> target", as ls -l shows it; the target is written as
    // given (relative or absolute).
    bool links(const QStringList& arrows) const {
        for (const QString& arrow : arrows) {
            const QStringList parts = arrow.split(QStringLiteral(" -> "));
            if (parts.size() != 2 || ::symlink(QFile::encodeName(parts[1]).constData(),
                                               QFile::encodeName(at(parts[0])).constData()) != 0)
                return false;
        }
        return true;
    }
    bool fifo(const QString& rel) const {
        return ::mkfifo(QFile::encodeName(at(rel)).constData(), 0600) == 0;
    }

private:
    QTemporaryDir tmp_;
};
