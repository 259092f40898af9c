// SPDX-License-Identifier: MIT

#include "conversion/FileNames.h"
#include "runtime/AppError.h"

#include <QTest>

using namespace FileNames;

class TestFileNames : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void noDot_data();
    void noDot();
    void longNames();
};

// Expected results per input; "!" marks a GetBaseName call that must fail for lack of a dot.
void TestFileNames::table_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("baseName");

    const QChar bs('\\');
    const QChar sl('/');
    QTest::newRow("backslash path") << "C:\\Pics\\Cat.JPG" << bs << "Cat.JPG"
                                    << "JPG"
                                    << "C:\\Pics\\Cat";
    QTest::newRow("plain name") << "temp.bmp" << bs << "temp.bmp"
                                << "bmp"
                                << "temp";
    QTest::newRow("two dots") << "archive.tar.gz" << bs << "archive.tar.gz"
                              << "gz"
                              << "archive.tar";
    QTest::newRow("hidden") << ".hidden" << bs << ".hidden"
                            << "hidden"
                            << "";
    QTest::newRow("trailing dot") << "name." << bs << "name."
                                  << ""
                                  << "name";
    QTest::newRow("dotted folder") << "C:\\my.dir\\file" << bs << "file"
                                   << "dir\\file"
                                   << "C:\\my";
    QTest::newRow("slash is ordinary with backslash")
        << "C:/Pics/Cat.jpg" << bs << "C:/Pics/Cat.jpg"
        << "jpg"
        << "C:/Pics/Cat";

    QTest::newRow("slash path") << "/home/ann/Pics/Cat.JPG" << sl << "Cat.JPG"
                                << "JPG"
                                << "/home/ann/Pics/Cat";
    QTest::newRow("slash dotted folder") << "/my.dir/file" << sl << "file"
                                         << "dir/file"
                                         << "/my";
    QTest::newRow("slash hidden") << "/home/ann/.hidden" << sl << ".hidden"
                                  << "hidden"
                                  << "/home/ann/";
    QTest::newRow("non-ASCII and blanks") << "/tmp/Фото с кошкой.Jpeg" << sl << "Фото с кошкой.Jpeg"
                                          << "Jpeg"
                                          << "/tmp/Фото с кошкой";
    QTest::newRow("backslash is ordinary with slash")
        << "C:\\Pics\\Cat.JPG" << sl << "C:\\Pics\\Cat.JPG"
        << "JPG"
        << "C:\\Pics\\Cat";
}

void TestFileNames::table()
{
    QFETCH(QString, input);
    QFETCH(QChar, separator);
    QFETCH(QString, fileName);
    QFETCH(QString, extension);
    QFETCH(QString, baseName);

    QCOMPARE(GetFileName(input, separator), fileName);
    QCOMPARE(GetExtension(input), extension);
    QCOMPARE(GetBaseName(input), baseName);
}

void TestFileNames::noDot_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("README") << "README" << QChar('\\') << "README";
    QTest::newRow("folder with backslash") << "C:\\Pics\\" << QChar('\\') << "";
    QTest::newRow("folder with slash") << "/home/ann/" << QChar('/') << "";
    QTest::newRow("empty") << "" << QChar('/') << "";
}

void TestFileNames::noDot()
{
    QFETCH(QString, input);
    QFETCH(QChar, separator);
    QFETCH(QString, fileName);

    QCOMPARE(GetFileName(input, separator), fileName);
    QCOMPARE(GetExtension(input), input);
    try {
        GetBaseName(input);
        QFAIL("GetBaseName accepted a name without a dot");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 5);
    }
}

void TestFileNames::longNames()
{
    const QString atLimit = QString(32763, QChar('a')) + ".jpg";
    QCOMPARE(atLimit.size(), 32767);
    QCOMPARE(GetExtension(atLimit), QStringLiteral("jpg"));
    QCOMPARE(GetBaseName(atLimit).size(), 32763);

    const QString tooLong = atLimit + "x";
    for (auto f : { &GetExtension, &GetBaseName }) {
        try {
            f(tooLong);
            QFAIL("a name of 32,768 characters was accepted");
        } catch (const AppError& e) {
            QCOMPARE(e.number(), 6);
        }
    }
    // GetFileName has no such limit.
    const QString longPath = "/" + QString(70000, QChar('d')) + "/Cat.jpg";
    QCOMPARE(GetFileName(longPath), QStringLiteral("Cat.jpg"));
}

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
