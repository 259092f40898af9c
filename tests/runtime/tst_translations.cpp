// SPDX-License-Identifier: MIT

#include "runtime/Translations.h"
#include "tests/common/TestUtils.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void errorDescriptions_data();
    void errorDescriptions();
};

void TestTranslations::errorDescriptions_data()
{
    QTest::addColumn<QString>("language"); // "" : none installed
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("shown");
    QTest::newRow("words and path") << "de"
                                    << "File not found: /p/Cat.jpg"
                                    << "Datei nicht gefunden: /p/Cat.jpg";
    QTest::newRow("a path holding the words") << "de"
                                              << "Invalid picture: /p/Invalid picture: x.bmp"
                                              << "Ungültiges Bild: /p/Invalid picture: x.bmp";
    QTest::newRow("sentence with paths, converter's reason, entry")
        << "fr"
        << "The converter did not write /s/temp1.bmp from /p/%2.png: not a PNG file\n/p/%2.png"
        << "Le convertisseur n'a pas écrit /s/temp1.bmp à partir de /p/%2.png: pas un fichier "
           "PNG\n/p/%2.png";
    QTest::newRow("unknown words kept") << "es"
                                        << "Something else: /p/a.jpg"
                                        << "Something else: /p/a.jpg";
    QTest::newRow("system's words kept") << "de"
                                         << "No space left on device: /p/ta.jpg"
                                         << "No space left on device: /p/ta.jpg";
    QTest::newRow("no translation") << ""
                                    << "File not found: /p/Cat.jpg"
                                    << "File not found: /p/Cat.jpg";
}

void TestTranslations::errorDescriptions()
{
    QFETCH(QString, language);
    QFETCH(QString, description);
    QFETCH(QString, shown);
    QTranslator translator;
    if (!language.isEmpty()) {
        QVERIFY(translator.load(TestUtils::binDir() + "/translations/pictelle_" + language));
        QCoreApplication::installTranslator(&translator);
    }
    QCOMPARE(Translations::errorDescription(description), shown);
    QCoreApplication::removeTranslator(&translator);
}

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
