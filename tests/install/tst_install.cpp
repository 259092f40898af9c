// SPDX-License-Identifier: MIT

// Pictelle installed into a prefix, as a packager or a user with "cmake --install" gets it:
// the layout, the desktop entry, and a conversion from an installed copy that nobody may
// write, so its scratch files must go to the user's cache folder.
#include "tests/common/ImageFixtures.h"
#include "tests/common/KindFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ImageFixtures::gradient;

// Every path under `root`, relative to it, sorted.
QStringList tree(const QString& root)
{
    QStringList paths;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(root).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}

// Takes write permission from everyone on `root` and below (links are left alone).
void makeReadOnly(const QString& root)
{
    QStringList paths = tree(root);
    paths.prepend(QString());
    for (const QString& relative : paths) {
        const QByteArray path = QFile::encodeName(QDir(root).filePath(relative));
        struct stat st;
        if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            ::chmod(path.constData(), st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH));
    }
}

// Root may write anywhere, so a read-only prefix means nothing to it: the installed copy is
// then run as "nobody", a user who really cannot write there.
constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;
bool runAsNobody()
{
    return ::geteuid() == 0;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void layout();
    void desktopEntryAndIcons();
    void manualsCompletionAndMetadata();
    void completion_data();
    void completion();
    void convertsFromAReadOnlyCopy();
    void windowStartsFromTheLink();
    void removal();

private:
    QProcess* userProcess(const QString& program, const QStringList& arguments);
    QString prefix(const QString& relative = {}) const
    {
        return relative.isEmpty() ? m_prefix : m_prefix + QLatin1Char('/') + relative;
    }

    QTemporaryDir m_root;
    QString m_prefix;
    QString m_home;
    QByteArray m_manifest;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_root.isValid());
    // Others must reach the prefix and the user's folders when the copy runs as nobody.
    QVERIFY(QFile::setPermissions(m_root.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
            | QFile::ReadGroup | QFile::ExeGroup));
    m_prefix = m_root.filePath("prefix with space");
    m_home = m_root.filePath("home");
    for (const char* folder : { "home", "home/config", "home/cache", "home/pictures" }) {
        QVERIFY(QDir().mkpath(m_root.filePath(folder)));
        if (runAsNobody())
            QVERIFY(::chown(QFile::encodeName(m_root.filePath(folder)).constData(), Nobody, NoGroup)
                == 0);
    }

    // cmake --install rewrites the build's manifest; the developer's own is put back after.
    QFile manifest(TestUtils::buildDir() + "/install_manifest.txt");
    if (manifest.open(QIODevice::ReadOnly))
        m_manifest = manifest.readAll();

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(
        TestUtils::cmakeCommand(), { "--install", TestUtils::buildDir(), "--prefix", m_prefix });
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll());
}

void TestInstall::cleanupTestCase()
{
    QFile manifest(TestUtils::buildDir() + "/install_manifest.txt");
    if (m_manifest.isEmpty())
        manifest.remove();
    else if (manifest.open(QIODevice::WriteOnly))
        manifest.write(m_manifest);
    // The read-only prefix would defeat QTemporaryDir's removal for a user other than root.
    QProcess::execute("chmod", { "-R", "u+w", m_root.path() });
}

QProcess* TestInstall::userProcess(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home);
    env.insert("XDG_CONFIG_HOME", m_home + "/config");
    env.insert("XDG_CACHE_HOME", m_home + "/cache");
    env.remove("XDG_RUNTIME_DIR"); // the test's own, which nobody may not enter
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(m_home);
    if (runAsNobody()) {
        process->setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(NoGroup) != 0 || ::setuid(Nobody) != 0)
                ::_exit(126);
        });
    }
    process->start(program, arguments);
    return process;
}

void TestInstall::layout()
{
    const QStringList programFolder {
        "lib/pictelle/HAND-M.CUR",
        "lib/pictelle/bmp2png",
        "lib/pictelle/drag.ico",
        "lib/pictelle/pictelle",
        "lib/pictelle/pictelle-batch",
        "lib/pictelle/pictelle-read",
        "lib/pictelle/png2bmp",
        "lib/pictelle/translations/pictelle_de.qm",
        "lib/pictelle/translations/pictelle_es.qm",
        "lib/pictelle/translations/pictelle_fr.qm",
    };
    for (const QString& file : programFolder) {
        const QFileInfo info(prefix(file));
        QVERIFY2(info.isFile(), qPrintable(file));
        QCOMPARE(info.isExecutable(), !file.contains('.'));
    }
    // The links lead into the program folder by a relative path, so a moved prefix works.
    for (const QString& program :
        { QStringLiteral("pictelle"), QStringLiteral("pictelle-batch") }) {
        const QFileInfo link(prefix("bin/" + program));
        QVERIFY2(link.isSymLink(), qPrintable(program));
        QCOMPARE(link.symLinkTarget(), QFileInfo(prefix("lib/pictelle/" + program)).filePath());
        char target[4096] = {};
        QVERIFY(
            ::readlink(QFile::encodeName(link.filePath()).constData(), target, sizeof target - 1)
            > 0);
        QVERIFY2(qstrncmp(target, "../", 3) == 0, target);
    }
}

void TestInstall::desktopEntryAndIcons()
{
    const QString entry = prefix("share/applications/pictelle.desktop");
    QVERIFY(QFile::exists(entry));
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QFAIL("desktop-file-validate is missing (scripts/setup.sh installs desktop-file-utils)");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, { entry });
    QVERIFY(validate.waitForFinished(30000));
    const QByteArray said = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && said.trimmed().isEmpty(), said);

    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("\nExec=pictelle %F\n"));
    QVERIFY(
        text.contains("\nMimeType=image/bmp;image/jpeg;image/png;image/webp;image/tiff;image/gif;"
                      "image/heic;image/heif;image/avif;image/jxl;image/x-adobe-dng;"));
    QVERIFY(text.contains(";image/x-canon-cr2;"));
    QVERIFY(text.contains("\nIcon=pictelle\n"));

    // The icon the entry names, in every size of the theme, drawn at that size.
    for (int size : { 16, 24, 32, 48, 64, 128, 256 }) {
        const QString icon
            = prefix(QStringLiteral("share/icons/hicolor/%1x%1/apps/pictelle.png").arg(size));
        const QImage image(icon);
        QVERIFY2(!image.isNull(), qPrintable(icon));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
    }
    QFile svg(prefix("share/icons/hicolor/scalable/apps/pictelle.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QVERIFY(svg.readAll().contains("<svg xmlns=\"http://www.w3.org/2000/svg\""));
}

void TestInstall::manualsCompletionAndMetadata()
{
    // Manual pages gzipped without a name or time stamp, so that builds are reproducible;
    // each names its program.
    for (const char* page : { "pictelle", "pictelle-batch" }) {
        QFile file(prefix(QStringLiteral("share/man/man1/%1.1.gz").arg(page)));
        QVERIFY2(file.open(QIODevice::ReadOnly), page);
        const QByteArray head = file.read(10);
        QVERIFY(head.startsWith("\x1f\x8b\x08"));
        QCOMPARE(head.at(3) & 0x08, 0); // no file name
        QCOMPARE(head.mid(4, 4), QByteArray(4, '\0')); // no time stamp
        QProcess man;
        man.start("sh", { "-c", "gzip -dc \"$1\" | head -3", "sh", file.fileName() });
        QVERIFY(man.waitForFinished(30000));
        QVERIFY2(
            man.readAll().contains(QByteArray(".TH ") + QByteArray(page).toUpper() + " 1"), page);
    }
    QFile completion(prefix("share/bash-completion/completions/pictelle-batch"));
    QVERIFY(completion.open(QIODevice::ReadOnly));
    QVERIFY(completion.readAll().contains("complete -F _pictelle_batch pictelle-batch"));

    const QString metainfo = prefix("share/metainfo/example.quorvane.pictelle.metainfo.xml");
    QVERIFY(QFile::exists(metainfo));
    const QString validator = QStandardPaths::findExecutable("appstreamcli");
    if (validator.isEmpty())
        QFAIL("appstreamcli is missing (scripts/setup.sh installs appstream)");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, { "validate", "--no-net", metainfo });
    QVERIFY(validate.waitForFinished(60000));
    QVERIFY2(validate.exitCode() == 0, validate.readAll());
    QVERIFY(QFile::exists(prefix("share/doc/pictelle/copyright")));
}

void TestInstall::completion_data()
{
    QTest::addColumn<QStringList>("words"); // as bash splits the line, "=" a word of its own
    QTest::addColumn<QString>("offered"); // sorted, blank-separated

    QTest::newRow("long option") << QStringList { "--o" } << "--output-dir=";
    QTest::newRow("update") << QStringList { "--up" } << "--update";
    QTest::newRow("percentage") << QStringList { "-p", "7" } << "70 75";
    QTest::newRow("percentage after =") << QStringList { "--percentage", "=", "5" } << "50";
    QTest::newRow("output folder: folders only") << QStringList { "-o", "" } << "sub";
    QTest::newRow("output folder after =") << QStringList { "--output-dir", "=", "" } << "sub";
    QTest::newRow("files: pictures and folders")
        << QStringList { "-u", "-o", "sub", "" } << "a.jpg b.PNG sub";
    QTest::newRow("list: any file")
        << QStringList { "--files-from", "" } << "a.jpg b.PNG notes.txt sub";
    QTest::newRow("nothing after --help") << QStringList { "--help", "" } << "";
}

// The installed completion, run by bash-completion as a shell at a typed line would run it.
void TestInstall::completion()
{
    QFETCH(QStringList, words);
    QFETCH(QString, offered);
    const QString framework = "/usr/share/bash-completion/bash_completion";
    if (!QFile::exists(framework))
        QFAIL("bash-completion is missing (scripts/setup.sh installs it)");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir("sub"));
    for (const char* name : { "a.jpg", "b.PNG", "notes.txt" })
        QVERIFY(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));

    const QString script = "source \"$1\"; source \"$2\"; shift 2; COMP_WORDS=(\"$@\"); "
                           "COMP_CWORD=$(($# - 1)); COMP_LINE=\"${*}\"; "
                           "COMP_LINE=${COMP_LINE// = /=}; COMP_POINT=${#COMP_LINE}; "
                           "_pictelle_batch pictelle-batch \"${COMP_WORDS[-1]}\" "
                           "\"${COMP_WORDS[-2]}\" 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\"";
    QProcess bash;
    bash.setWorkingDirectory(folder.path());
    bash.start("bash",
        QStringList { "-c", script, "bash", framework,
            prefix("share/bash-completion/completions/pictelle-batch"), "pictelle-batch" }
            + words);
    QVERIFY(bash.waitForFinished(30000));
    QStringList found
        = QString::fromUtf8(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    found.sort();
    QCOMPARE(found.join(' '), offered);
}

void TestInstall::convertsFromAReadOnlyCopy()
{
    const QString pictures = m_home + "/pictures";
    QVERIFY(gradient(300, 200).save(pictures + "/photo.jpg", "JPG"));
    QVERIFY(gradient(90, 60).save(pictures + "/shot.png", "PNG"));
    QVERIFY(gradient(40, 30).save(pictures + "/scan.bmp", "BMP"));
    QVERIFY(KindFixtures::writeTiff(pictures + "/page.tif", gradient(60, 40)));
    if (runAsNobody()) {
        for (const char* name : { "photo.jpg", "shot.png", "scan.bmp", "page.tif" })
            QVERIFY(::chown(QFile::encodeName(pictures + '/' + name).constData(), Nobody, NoGroup)
                == 0);
    }
    makeReadOnly(prefix());
    const QStringList before = tree(prefix());

    QProcess* batch = userProcess(prefix("bin/pictelle-batch"),
        { "-p", "50", pictures + "/shot.png", pictures + "/scan.bmp", pictures + "/page.tif",
            pictures + "/photo.jpg" });
    QVERIFY(batch->waitForFinished(120000));
    const QByteArray err = batch->readAllStandardError();
    QVERIFY2(batch->exitCode() == 0, err);
    QCOMPARE(batch->readAllStandardOutput(), QByteArray("done\n"));
    QCOMPARE(QImageReader(pictures + "/tphoto.jpg").size(), QSize(150, 100));
    QCOMPARE(QImageReader(pictures + "/tshot.png").size(), QSize(45, 30));
    QCOMPARE(QImageReader(pictures + "/tscan.bmp").size(), QSize(20, 15));
    QCOMPARE(KindFixtures::read(pictures + "/tpage.tif").image.size(), QSize(30, 20));

    // Nothing was written into the installed copy; the scratch files went to the cache
    // (temp.bmp is left there by the last entry, a JPEG).
    QCOMPARE(tree(prefix()), before);
    QVERIFY(QFile::exists(m_home + "/cache/Pictelle/temp.bmp"));
}

void TestInstall::windowStartsFromTheLink()
{
    QProcess* window = userProcess(prefix("bin/pictelle"), {});
    QVERIFY(window->waitForStarted());
    // Still up after a second: it found its libraries and opened its window (offscreen).
    QVERIFY2(!window->waitForFinished(1500), window->readAllStandardError());
    window->terminate();
    QVERIFY(window->waitForFinished(30000));
}

void TestInstall::removal()
{
    QProcess::execute("chmod", { "-R", "u+w", prefix() });
    // The removal README.md gives, run in the prefix.
    QProcess remove;
    remove.setWorkingDirectory(prefix());
    remove.start("sh",
        { "-c",
            "rm -r lib/pictelle bin/pictelle bin/pictelle-batch "
            "share/applications/pictelle.desktop share/icons/hicolor/*/apps/pictelle.* "
            "share/man/man1/pictelle*.1.gz share/bash-completion/completions/pictelle-batch "
            "share/metainfo/example.quorvane.pictelle.metainfo.xml share/doc/pictelle" });
    QVERIFY(remove.waitForFinished(30000));
    QCOMPARE(remove.exitCode(), 0);
    for (const QString& path : tree(prefix()))
        QVERIFY2(QFileInfo(prefix(path)).isDir(), qPrintable(path + " is left"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
