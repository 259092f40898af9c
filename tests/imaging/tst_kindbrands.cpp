// SPDX-License-Identifier: MIT

// Which kind an ISO base media file is by the brands of its 'ftyp' box.

#include "imaging/core/Kinds.h"

#include <QTest>

class TestKindBrands : public QObject
{
    Q_OBJECT

private slots:
    void kindOfBrands_data();
    void kindOfBrands();
};

Q_DECLARE_METATYPE(Kinds::Kind)

void TestKindBrands::kindOfBrands_data()
{
    QTest::addColumn<QByteArray>("major");
    QTest::addColumn<QByteArray>("compatible");
    QTest::addColumn<int>("boxSize"); // 0: the brands' own size
    QTest::addColumn<Kinds::Kind>("kind");

    using Kinds::Kind;
    QTest::newRow("heic") << QByteArray("heic") << QByteArray("mif1heic") << 0 << Kind::Heif;
    QTest::newRow("hevc sequence") << QByteArray("hevc") << QByteArray("msf1") << 0 << Kind::Heif;
    QTest::newRow("avif") << QByteArray("avif") << QByteArray("mif1miaf") << 0 << Kind::Avif;
    QTest::newRow("avis") << QByteArray("avis") << QByteArray("msf1") << 0 << Kind::Avif;
    QTest::newRow("mif1 listing avif")
        << QByteArray("mif1") << QByteArray("mif1miafavif") << 0 << Kind::Avif;
    QTest::newRow("mif1 listing heic")
        << QByteArray("mif1") << QByteArray("heicmif1") << 0 << Kind::Heif;
    QTest::newRow("mif1 alone: HEIF, which libheif tries")
        << QByteArray("mif1") << QByteArray("mif1") << 0 << Kind::Heif;
    QTest::newRow("avif beyond the box")
        << QByteArray("msf1") << QByteArray("mif1avif") << 20 << Kind::Heif;
    QTest::newRow("a video") << QByteArray("isom") << QByteArray("isomavc1") << 0 << Kind::None;
}

void TestKindBrands::kindOfBrands()
{
    QFETCH(QByteArray, major);
    QFETCH(QByteArray, compatible);
    QFETCH(int, boxSize);
    QFETCH(Kinds::Kind, kind);

    const int size = boxSize ? boxSize : int(16 + compatible.size());
    QByteArray head(4, '\0');
    head[3] = char(size);
    head += "ftyp" + major + QByteArray(4, '\0') + compatible + QByteArray("\0\0\0\x10mdat", 8);
    QCOMPARE(Kinds::fromContent(reinterpret_cast<const unsigned char*>(head.constData()),
                 std::size_t(head.size())),
        kind);
}

QTEST_GUILESS_MAIN(TestKindBrands)
#include "tst_kindbrands.moc"
