#pragma once
// A scratch folder tree for file-system tests, made from a list of entries
// named relative to one temporary folder: "a/b/" a folder, "a/l -> target" a
// link (target written as given), "a/p|" a named pipe, anything else a file
// of five bytes. Parent folders are made as needed.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

class TempTree {
public:
    QString path() const { return tmp_.path(); }
    QString at(const QString& rel) const { return tmp_.path() + '/' + rel; }
    // A file's bytes; "<missing>" when it cannot be read.
    QByteArray read(const QString& rel) const {
        QFile f(at(rel));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // False on the first entry that cannot be made, for QVERIFY.
    bool make(const QStringList& entries) const {
        if (!tmp_.isValid())
            return false;
        for (const QString& entry : entries) {
            const QStringList link = entry.split(QStringLiteral(" -> "));
            const QByteArray name = QFile::encodeName(at(link[0].chopped(entry.endsWith('|'))));
            if (!QDir().mkpath(QFileInfo(at(link[0])).path()))
                return false;
            const bool made = link.size() == 2 ? ::symlink(QFile::encodeName(link[1]).constData(),
                                                           name.constData()) == 0
                              : entry.endsWith('/') ? QDir().mkpath(at(entry))
                              : entry.endsWith('|') ? ::mkfifo(name.constData(), 0600) == 0
                                                    : writeFile(at(entry));
            if (!made)
                return false;
        }
        return true;
    }

private:
    static bool writeFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write("12345") == 5;
    }
    QTemporaryDir tmp_;
};
