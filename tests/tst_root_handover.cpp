// vellorin-recover started by root: it opens the source as root, then hands the whole run to the
// save location's owner, so that nothing that owner controls can turn root's writes elsewhere.
// Only root can run these; elsewhere they are skipped.

#include "platform/Accounts.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

uid_t ownerOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_uid : uid_t(-1);
}

} // namespace

class RootHandoverTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch{QDir::tempPath() + u"/vellorin-handover-XXXXXX"_s};
    QString program, resources, image, pictures;
    uid_t nobody = 0;
    gid_t nogroup = 0;

    Outcome recover(const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        Outcome outcome;
        if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit)
            return outcome;
        outcome.status = process.exitCode();
        outcome.out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

    // A folder of nobody's in a folder everyone may enter.
    QString nobodysFolder(const QString& name) {
        const QString folder = scratch.filePath(name);
        QDir().mkpath(folder);
        ::chown(QFile::encodeName(folder).constData(), nobody, nogroup);
        return folder;
    }

  private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("only root hands a run over");
        const passwd* user = ::getpwnam("nobody");
        QVERIFY(user);
        nobody = user->pw_uid;
        nogroup = user->pw_gid;
        QVERIFY(scratch.isValid());
        ::chmod(QFile::encodeName(scratch.path()).constData(), 0755);
        // The program with an engine that notes who runs it, laid out as it is installed.
        const QString tree = scratch.filePath(u"install"_s);
        resources = copyEngineFolder(tree, kNotingEngine);
        QDir().mkpath(tree + u"/bin"_s);
        program = tree + u"/bin/vellorin-recover"_s;
        QVERIFY(
            QFile::copy(qEnvironmentVariable("VELLORIN_BUILD_DIR") + u"/bin/vellorin-recover"_s, program));
        ::chmod(QFile::encodeName(program).constData(), 0755);
        takeCredentials(resources);
        // ThreadSanitizer's suppressions must stay readable after the hand-over.
        qputenv("TSAN_OPTIONS", tsanOptionsReadableIn(scratch.path()).toUtf8());

        // A card only root may read, two of its pictures deleted.
        pictures = scratch.filePath(u"pictures"_s);
        QDir().mkpath(pictures);
        const QStringList made = makePictures(pictures, 6);
        image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 8 * 1024 * 1024, made, {u"picture2.jpg"_s, u"picture5.png"_s}));
        QVERIFY(QFile::setPermissions(image, QFile::ReadOwner | QFile::WriteOwner));
    }

    void theRunIsTheSaveLocationOwnersFromTheEngineToEveryFile() {
        const QString save = nobodysFolder(u"nobodys"_s);
        const Outcome outcome = recover({image, save});
        QVERIFY2(outcome.status == 0, qPrintable(outcome.out + outcome.err));
        QVERIFY2(outcome.err.contains(u"Running as nobody, the owner of "_s), qPrintable(outcome.err));
        // Root opened the card nobody may not read; the script and PhotoRec ran as nobody.
        const QString id = QString::number(nobody);
        QCOMPARE(takeCredentials(resources), QStringList{id + u' ' + id});
        const QStringList recovered = visibleFileHashes(save + u"/recovered_files"_s);
        for (const QString& picture : QDir(pictures).entryList(QDir::Files))
            QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(pictures + u'/' + picture))),
                     qPrintable(picture));
        for (QDirIterator it(save, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            QVERIFY2(ownerOf(it.next()) == nobody, qPrintable(it.filePath()));
    }

    void aLinkPlantedByTheOwnerLeadsRootNowhere() {
        // The owner points recovered_files, and its working folder, at places only root may write.
        const QString rootOnly = scratch.filePath(u"root-only"_s);
        QDir().mkpath(rootOnly);
        ::chmod(QFile::encodeName(rootOnly).constData(), 0700);
        const QString save = nobodysFolder(u"planted"_s);
        QVERIFY(QFile::link(rootOnly, save + u"/recovered_files"_s));
        ::lchown(QFile::encodeName(save + u"/recovered_files"_s).constData(), nobody, nogroup);
        const Outcome outcome = recover({image, save, u"--json"_s});
        QVERIFY2(outcome.status != -1, "the run did not end");
        QVERIFY2(QDir(rootOnly)
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                     .isEmpty(),
                 qPrintable(outcome.out + outcome.err));
        // Whatever was recovered went to nobody's own places.
        for (const QString& line : outcome.out.split(u'\n', Qt::SkipEmptyParts)) {
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
            if (event.value(u"event"_s).toString() == u"file"_s)
                QCOMPARE(ownerOf(event.value(u"path"_s).toString()), nobody);
        }
        takeCredentials(resources);
    }

    void rootsOwnFolderStaysRootsOnlyWhereNoOneElseCanChangeIt() {
        // Writable by others: refused before anything is written.
        const QString shared = scratch.filePath(u"shared"_s);
        QDir().mkpath(shared);
        ::chmod(QFile::encodeName(shared).constData(), 0777);
        Outcome outcome = recover({image, shared});
        QCOMPARE(outcome.status, 2);
        QVERIFY2(outcome.err.contains(u"other users may write to "_s + QFileInfo(shared).canonicalFilePath()),
                 qPrintable(outcome.err));
        QVERIFY(QDir(shared).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        // A root folder inside a folder of nobody's: nobody could swap it for a link.
        const QString inside = nobodysFolder(u"nobodys-parent"_s) + u"/roots"_s;
        QDir().mkpath(inside);
        outcome = recover({image, inside});
        QCOMPARE(outcome.status, 2);
        QVERIFY2(outcome.err.contains(u"belongs to another user"_s), qPrintable(outcome.err));
        QVERIFY(takeCredentials(resources).isEmpty());

        // Only root's all the way up (a sticky /tmp included): the run stays root's.
        const QString roots = scratch.filePath(u"roots"_s);
        QDir().mkpath(roots);
        ::chmod(QFile::encodeName(roots).constData(), 0755);
        outcome = recover({image, roots, u"--no-names"_s});
        QVERIFY2(outcome.status == 0,
                 qPrintable(QString::number(outcome.status) + outcome.out + outcome.err));
        QVERIFY(!outcome.err.contains(u"Running as"_s));
        QCOMPARE(takeCredentials(resources), QStringList{u"0 0"_s});
        QCOMPARE(ownerOf(roots + u"/recovered_files"_s), uid_t(0));
    }

    void theRedirectCheckReadsEveryStepUpToTheRoot() {
        const QString base = scratch.filePath(u"steps"_s);
        QDir().mkpath(base + u"/sticky/inner"_s);
        ::chmod(QFile::encodeName(base).constData(), 0755);
        ::chmod(QFile::encodeName(base + u"/sticky"_s).constData(), 01777);
        ::chmod(QFile::encodeName(base + u"/sticky/inner"_s).constData(), 0755);
        // A root folder in a sticky shared one: others cannot move it away.
        QCOMPARE(accounts::whyOthersCouldRedirect(base + u"/sticky/inner"_s), std::nullopt);
        // The sticky folder itself: others could take recovered_files' name first.
        QVERIFY(accounts::whyOthersCouldRedirect(base + u"/sticky"_s));
        // Group-writable by root's own group only is still root's.
        ::chmod(QFile::encodeName(base + u"/sticky/inner"_s).constData(), 0775);
        QCOMPARE(accounts::whyOthersCouldRedirect(base + u"/sticky/inner"_s), std::nullopt);
        ::chown(QFile::encodeName(base + u"/sticky/inner"_s).constData(), 0, nogroup);
        QVERIFY(accounts::whyOthersCouldRedirect(base + u"/sticky/inner"_s));
        // A link is judged by where it leads.
        QVERIFY(QFile::link(base + u"/sticky"_s, base + u"/link"_s));
        QVERIFY(accounts::whyOthersCouldRedirect(base + u"/link"_s));
        QVERIFY(accounts::whyOthersCouldRedirect(base + u"/missing"_s));
    }

    void becomingTheOwnerLeavesNothingOfRoots() {
        const std::optional<Account> owner = accounts::ownerOfFolder(nobodysFolder(u"become"_s));
        QVERIFY(owner);
        QCOMPARE(owner->uid, nobody);
        QCOMPARE(owner->name, u"nobody"_s);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            int failures = accounts::become(*owner).has_value();
            // Root's rights cannot be taken back, and no group of root's is left.
            failures += ::setuid(0) == 0 || ::seteuid(0) == 0 || ::setgid(0) == 0;
            gid_t groups[64];
            const int count = ::getgroups(64, groups);
            for (int i = 0; i < count; ++i)
                failures += groups[i] == 0;
            failures += ::getuid() != nobody || ::getgid() != nogroup;
            failures += std::strcmp(::getenv("USER") ? ::getenv("USER") : "", "nobody") != 0;
            failures += ::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr;
            ::_exit(failures == 0 ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_GUILESS_MAIN(RootHandoverTest)
#include "tst_root_handover.moc"
