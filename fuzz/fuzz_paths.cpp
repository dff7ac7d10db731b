// Whatever a client sends as a path, the file system layer must never hand
// out a disk path outside the root or a virtual folder's destination, its
// listings must stay one line per entry, and the file service must name the
// same objects the checkpoint resolves.
//
// Input: one byte of flags (1: follow links, 2: the object must exist), then
// the current folder and the client path separated by '\n' (no '\n': the
// current folder is "/").

#include "files/DiskPaths.h"
#include "files/FileService.h"
#include "files/VirtualFileSystem.h"
#include "ftp/Listing.h"
#include "fuzz/FuzzRule.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

using namespace kv::files;
using kv::ftp::listLine;
using kv::ftp::mlsxLine;

namespace {

// A small tree with a virtual folder, links inside, outside, dangling and
// looping, built once per fuzzing process.
struct Tree {
    QTemporaryDir tmp;
    QString root, dest;
    VirtualFileSystem follow, noFollow;
    std::shared_ptr<LoginGrant> grant = std::make_shared<LoginGrant>();
    // The services share their folders, as a server's sessions do.
    AreaRegistry areas;

    Tree() {
        const QString base = realPathOf(tmp.path());
        root = base + "/root";
        dest = base + "/dest";
        for (const QString& dir : {root + "/sub/deep", dest + "/in", base + "/outside"})
            QDir().mkpath(dir);
        for (const QString& file :
             {root + "/a", root + "/sub/b", dest + "/d", base + "/outside/s"}) {
            QFile f(file);
            (void)f.open(QIODevice::WriteOnly);
        }
        const auto link = [](const QString& target, const QString& name) {
            (void)::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(name).constData());
        };
        link(root + "/sub", root + "/in");
        link("sub", root + "/rel");
        link("../a", root + "/sub/toA");
        link("../..", root + "/sub/up");
        link(base + "/outside", root + "/out");
        link(base + "/outside/new", root + "/dangling");
        link("loop", root + "/loop");
        link(base + "/outside", dest + "/esc");
        const QList<VirtualDir> dirs = {{"v", "", dest}, {"w", root + "/sub", dest}};
        follow = VirtualFileSystem(root, dirs, true);
        noFollow = VirtualFileSystem(root, dirs, false);
        grant->rights = Rights{Right::Browse}; // nothing that writes
        grant->root = root;
        grant->virtualDirs = dirs;
    }
};

void checkNormalized(const QString& v) {
    require(v.startsWith('/'), "normalised path is absolute");
    require(v == "/" || !v.endsWith('/'), "no trailing slash");
    require(!v.contains("//") && !v.contains('\\'), "one separator, always '/'");
    for (const QString& part : v.split('/', Qt::SkipEmptyParts))
        require(part != "." && part != "..", "no dot parts");
    require(VirtualFileSystem::normalize("/", v) == v, "normalising is settled");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Tree tree;
    if (size < 1)
        return 0;
    const bool followLinks = data[0] & 1;
    const bool mustExist = data[0] & 2;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype newline = text.indexOf('\n');
    const QString cwd = newline < 0 ? QStringLiteral("/") : text.left(newline);
    const QString path = newline < 0 ? text : text.mid(newline + 1);

    checkNormalized(VirtualFileSystem::normalize(cwd, path));

    const VirtualFileSystem& fs = followLinks ? tree.follow : tree.noFollow;
    const ResolvedPath r = fs.resolve(cwd, path, mustExist);

    // The service, started in the same folder, finds the same object.
    FileService service(tree.grant, followLinks, {}, &tree.areas);
    const PathResult moved = service.changeFolder(cwd);
    if (moved.ok()) {
        const FactsResult facts = service.stat(path);
        const ResolvedPath same = fs.resolve(moved.path, path, true);
        require(facts.ok() == (same.ok() && same.exists), "the service sees what resolves");
        if (facts.ok())
            require(facts.path == same.virtualPath, "the service names it the same");
    }
    if (!r.ok()) {
        require(r.realPath.isEmpty(), "no disk path on error");
        return 0;
    }
    checkNormalized(r.virtualPath);
    require(isInside(r.realPath, tree.root) || isInside(r.realPath, tree.dest),
            "disk path starts in the root or a destination");
    const QString real = realPathOf(r.exists ? r.realPath : r.realPath.section('/', 0, -2));
    require(!real.isEmpty(), "the object (or its folder) exists");
    require(isInside(real, tree.root) || isInside(real, tree.dest), "links never lead outside");
    if (!followLinks)
        require(real == (r.exists ? r.realPath : r.realPath.section('/', 0, -2)),
                "no link is followed");

    // What is opened is what was resolved, and it lies inside: the kernel's
    // own word on the descriptor, not the text of a path.
    if (r.exists) {
        const UniqueFd fd = r.open(O_PATH);
        require(fd.valid(), "a resolved object opens");
        char buffer[4096];
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd.get());
        const ssize_t n = ::readlink(self.constData(), buffer, sizeof buffer);
        require(n > 0, "the descriptor names its object");
        const QString opened = QFile::decodeName(QByteArray(buffer, int(n)));
        require(isInside(opened, tree.root) || isInside(opened, tree.dest),
                "the opened object lies inside");
    }

    if (r.exists && r.isDir) {
        const auto entries = fs.list(r);
        require(entries.has_value(), "an existing folder lists");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const FsEntry& e : *entries) {
            require(!listLine(e, now).contains('\n'), "one LIST line per entry");
            require(!mlsxLine(e, r.virtualPath, "elr").contains('\n'), "one MLSD line per entry");
        }
    }
    return 0;
}
