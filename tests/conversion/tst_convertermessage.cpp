// SPDX-License-Identifier: MIT

// What a failing converter said, as the run's message shows it: named entry, the converter's
// own reason, bounded and printable whatever the converter wrote.
#include "conversion/ConversionRun.h"
#include "conversion/ConverterMessage.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const PngFixtures::Kind rgb { 2, 8, false, false }; // PNG_COLOR_TYPE_RGB

// What png2bmp itself says about `path`, without its "png2bmp: <path>: ".
QString png2bmpReason(const QString& path, const QString& output)
{
    QProcess process;
    process.start(TestUtils::binDir() + "/png2bmp", { "-O", output, path });
    if (!process.waitForFinished(60000))
        return {};
    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QString prefix = "png2bmp: " + path + ": ";
    return said.startsWith(prefix) ? said.mid(prefix.size()) : QString();
}

bool hasControlCharacters(const QString& text)
{
    for (QChar c : text)
        if (c.category() == QChar::Other_Control && c != '\n')
            return true;
    return false;
}

} // namespace

class TestConverterMessage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void reason_data();
    void reason();
    void damagedPng();
    void fakeConverter_data();
    void fakeConverter();

private:
    QString prog(const QString& name) const { return m_program->filePath(name); }
    QString pics(const QString& name) const { return m_pics->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<QTemporaryDir> m_pics;
};

void TestConverterMessage::init()
{
    m_program = std::make_unique<QTemporaryDir>();
    m_pics = std::make_unique<QTemporaryDir>();
    QVERIFY(m_program->isValid() && m_pics->isValid());
    for (const char* tool : { "png2bmp", "bmp2png" })
        QVERIFY(QFile::link(TestUtils::binDir() + "/" + tool, prog(tool)));
}

void TestConverterMessage::reason_data()
{
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<bool>("truncated");
    QTest::addColumn<QString>("expected");
    const QString x240 = QString(239, 'x') + QChar(0x2026);
    QTest::newRow("nothing") << QByteArray() << false << "";
    QTest::newRow("own prefix dropped")
        << QByteArray("png2bmp: /p/a.png: IDAT: CRC error\n") << false << "IDAT: CRC error";
    QTest::newRow("other file kept")
        << QByteArray("png2bmp: /q/b.png: gone\n") << false << "png2bmp: /q/b.png: gone";
    QTest::newRow("blank and CRLF lines")
        << QByteArray("\n one \r\n\r\ntwo\n") << false << "one\ntwo";
    QTest::newRow("lines beyond the third")
        << QByteArray("1\n2\n3\n4\n5\n") << false << QString("1\n2\n3") + QChar(0x2026);
    QTest::newRow("truncated") << QByteArray("only") << true << QString("only") + QChar(0x2026);
    QTest::newRow("long line") << QByteArray(1000, 'x') << false << x240;
    QTest::newRow("control characters")
        << QByteArray("bad\x1b[31m\x07\tend\x7f") << false << "bad\\x1b[31m\\x07\\x09end\\x7f";
    QTest::newRow("invalid UTF-8") << QByteArray("\xff(\xc3 \xc0\xaf \xed\xa0\x80 \xe2\x82")
                                   << false << "\\xff(\\xc3 \\xc0\\xaf \\xed\\xa0\\x80 \\xe2\\x82";
    QTest::newRow("valid UTF-8 kept")
        << QByteArray("Größe 😀") << false << QString::fromUtf8("Größe 😀");
    QTest::newRow("direction override") << QByteArray("a\xe2\x80\xae"
                                                      "b\xc2\x85")
                                        << false << "a\\u{202e}b\\x85";
}

void TestConverterMessage::reason()
{
    QFETCH(QByteArray, said);
    QFETCH(bool, truncated);
    QFETCH(QString, expected);
    QCOMPARE(
        ConverterMessage::reason(said, truncated, "png2bmp", { "/p/a.png", "/p/o.bmp" }), expected);
}

void TestConverterMessage::damagedPng()
{
    const QString entry = pics("broken picture.png");
    QVERIFY(!PngFixtures::write(entry, rgb, 64, 64).isNull());
    QVERIFY(PngFixtures::damageImageData(entry));
    const QString reason = png2bmpReason(entry, pics("out.bmp"));
    QVERIFY(!reason.isEmpty());

    FakeRunHost host;
    host.entries = 1;
    QVERIFY(!ConversionRun::run({ { entry }, m_program->path() }, host));
    QCOMPARE(host.errors.size(), 1);
    const QString message = host.errors.first().description();
    QVERIFY2(message.contains(entry + ": " + reason), qPrintable(message));
    QVERIFY2(!message.contains('\n'), qPrintable(message));
}

void TestConverterMessage::fakeConverter_data()
{
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("shown"); // what the message must hold
    QTest::newRow("bmp2png's reason")
        << "bmp2png" << QByteArray("echo \"bmp2png: $3: disk on fire\" >&2; exit 1")
        << ": disk on fire";
    QTest::newRow("escaped bytes")
        << "png2bmp" << QByteArray("printf 'bad \\033]0;title\\007 \\377\\n' >&2; exit 1")
        << "bad \\x1b]0;title\\x07 \\xff";
    QTest::newRow("megabytes of stderr")
        << "png2bmp" << QByteArray("head -c 8000000 /dev/zero | tr '\\0' x >&2; exit 1")
        << "xxx" + QString(QChar(0x2026));
    QTest::newRow("crash") << "png2bmp" << QByteArray("kill -SEGV $$") << "signal 11";
}

void TestConverterMessage::fakeConverter()
{
    QFETCH(QString, converter);
    QFETCH(QByteArray, script);
    QFETCH(QString, shown);
    QVERIFY(QFile::remove(prog(converter)));
    QFile file(prog(converter));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("#!/bin/sh\n" + script + '\n') > 0);
    QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    file.close();
    const QString entry = pics("a.png");
    QVERIFY(!PngFixtures::write(entry, rgb, 40, 30).isNull());

    FakeRunHost host;
    host.entries = 1;
    QVERIFY(!ConversionRun::run({ { entry }, m_program->path() }, host));
    QCOMPARE(host.errors.size(), 1);
    const QString message = host.errors.first().description();
    QVERIFY2(message.contains(entry) && message.contains(shown), qPrintable(message));
    QVERIFY2(!hasControlCharacters(message), qPrintable(message));
    QVERIFY2(message.size() < 4 * ConverterMessage::maxLineLength, qPrintable(message));
}

QTEST_GUILESS_MAIN(TestConverterMessage)
#include "tst_convertermessage.moc"
