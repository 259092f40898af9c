// SPDX-License-Identifier: MIT

#include "app/Form1.h"
#include "app/OpenFilesDialog.h"
#include "tests/common/FolderTree.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

const QString windowFilter = Form1::addFilesFilter();

// The dialog of the "Add Image File(s)" button, shown without blocking on a folder of its own.
struct OpenDialogFixture
{
    QTemporaryDir dir;
    OpenFilesDialog dialog { nullptr, QStringLiteral("Add"), windowFilter };

    bool open()
    {
        QString error;
        if (!FolderTree::make(
                dir.path(), { "Cat.JPG", "dog.jpg", "notes.txt", "sub/inner.png" }, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        auto* model = dialog.findChild<QFileSystemModel*>();
        if (!model)
            return false;
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        dialog.setDirectory(dir.path());
        dialog.show();
        const QString folder = QFileInfo(dir.path()).canonicalFilePath();
        return QTest::qWaitFor([&] {
            return std::any_of(loaded.begin(), loaded.end(), [&](const QList<QVariant>& args) {
                return QFileInfo(args.value(0).toString()).canonicalFilePath() == folder;
            });
        });
    }
    QAbstractItemView* listView() const
    {
        return dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
    }
    // The names the file list offers: shown and enabled, folders left out.
    QStringList listed() const
    {
        const QAbstractItemView* view = listView();
        const QAbstractItemModel* model = view->model();
        QStringList names;
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, view->rootIndex());
            if (index.flags().testFlag(Qt::ItemIsEnabled)
                && !QFileInfo(dir.filePath(index.data().toString())).isDir())
                names << index.data().toString();
        }
        names.sort();
        return names;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void typeName(const QString& text)
    {
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(text);
    }
    // The Open button as the user presses it: a disabled button does nothing.
    void pressOpen()
    {
        dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Open)
            ->click();
    }
};

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void typeNamesAreTheWindowsOwn();
    void listingFollowsType_data();
    void listingFollowsType();
    void namesChosen_data();
    void namesChosen();
    void folderThenCancel();
};

void DialogsTest::typeNamesAreTheWindowsOwn()
{
    OpenFilesDialog dialog(nullptr, QStringLiteral("Add"), windowFilter);
    const auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i)
        shown << types->itemText(i);
    QCOMPARE(shown,
        QStringList({ "All Pictures (*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf)", "All Files (*.*)",
            "More Kinds of Pictures (*.webp;*.tif;*.tiff;*.gif;*.heic;*.heif;*.hif;*.avif;*.jxl;"
            "*.dng;*.cr2;*.cr3;*.nef;*.nrw;*.arw;*.srf;*.sr2;*.orf;*.rw2;*.raf;*.pef;*.srw;*.3fr;"
            "*.iiq;*.mrw;*.erf)" }));
    QCOMPARE(types->currentIndex(), 0);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add"));
}

void DialogsTest::listingFollowsType_data()
{
    QTest::addColumn<QList<int>>("typesChosen"); // combo indexes, in order; none: as opened
    QTest::addColumn<QStringList>("expected");
    const QStringList pictures { "Cat.JPG", "dog.jpg" };
    QTest::newRow("as opened") << QList<int>() << pictures;
    QTest::newRow("all files") << QList<int> { 1 }
                               << QStringList { "Cat.JPG", "dog.jpg", "notes.txt" };
    QTest::newRow("back to pictures") << QList<int> { 1, 0 } << pictures;
}

void DialogsTest::listingFollowsType()
{
    QFETCH(QList<int>, typesChosen);
    QFETCH(QStringList, expected);
    OpenDialogFixture f;
    QVERIFY(f.open());
    auto* types = f.dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int index : typesChosen) {
        types->setCurrentIndex(index);
        emit types->activated(index); // what a choice in the combo box sends
    }
    QTRY_COMPARE(f.listed(), expected);
}

void DialogsTest::namesChosen_data()
{
    QTest::addColumn<QString>("typed"); // empty: select Cat.JPG and dog.jpg in the list
    QTest::addColumn<QStringList>("chosen"); // names in the fixture folder, or absolute paths
    QTest::newRow("missing name") << "new.jpg" << QStringList { "new.jpg" };
    QTest::newRow("missing name with a space") << "my cat.jpg" << QStringList { "my cat.jpg" };
    QTest::newRow("missing among existing")
        << "\"dog.jpg\" \"new.JPG\"" << QStringList { "dog.jpg", "new.JPG" };
    QTest::newRow("missing in a missing folder") << "gone/x.png" << QStringList { "gone/x.png" };
    QTest::newRow("absolute missing")
        << "/nonexistent-pictelle/x.bmp" << QStringList { "/nonexistent-pictelle/x.bmp" };
    QTest::newRow("existing name") << "dog.jpg" << QStringList { "dog.jpg" };
    QTest::newRow("two selected") << "" << QStringList { "Cat.JPG", "dog.jpg" };
}

void DialogsTest::namesChosen()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, chosen);
    OpenDialogFixture f;
    QVERIFY(f.open());
    if (typed.isEmpty()) {
        QAbstractItemView* view = f.listView();
        QTRY_COMPARE(f.listed().size(), 2);
        for (const char* name : { "Cat.JPG", "dog.jpg" }) {
            const QModelIndexList found
                = view->model()->match(view->model()->index(0, 0, view->rootIndex()),
                    Qt::DisplayRole, QString::fromLatin1(name));
            QCOMPARE(found.size(), 1);
            view->scrollTo(found.first());
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                view->visualRect(found.first()).center());
        }
    } else {
        f.typeName(typed);
    }
    f.pressOpen();
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QStringList expected;
    for (const QString& name : chosen)
        expected << (QDir::isAbsolutePath(name) ? name : f.path(name));
    QCOMPARE(f.dialog.chosenFiles(), expected);
}

void DialogsTest::folderThenCancel()
{
    OpenDialogFixture f;
    QVERIFY(f.open());
    f.typeName(QStringLiteral("sub"));
    f.pressOpen(); // a folder's name opens the folder
    QVERIFY(f.dialog.isVisible());
    QCOMPARE(QDir(f.dialog.directory()).absolutePath(), QDir(f.path("sub")).absolutePath());
    f.typeName(QStringLiteral("new.jpg"));
    f.dialog.reject();
    QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
    QVERIFY(f.dialog.chosenFiles().isEmpty());
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
