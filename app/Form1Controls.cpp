// SPDX-License-Identifier: MIT

// The window's controls: their fixed geometry, fonts, captions and tab order. The handlers
// and the routing of events to them are in Form1.cpp.
#include "app/Form1.h"
#include "app/PictureButton.h"
#include "background/PercentageSlider.h"
#include "filelist/widgets/ImageListView.h"

#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

namespace {

QFont arial(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

} // namespace

void Form1::buildControls()
{
    buildFrame();

    Command1 = new QPushButton(QStringLiteral("Command1"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(-48, 176, 41, 33);

    // The order of creation is the stacking order: a control made later lies above those
    // before it where they overlap. "&" marks each caption's mnemonic.
    Check1 = buildPictureButton("Check1", tr("&Add Image File(s)"), 8);
    Check2 = buildPictureButton("Check2", tr("&Convert to Thumbnail"), 296);
    buildList();
    Check3 = buildPictureButton("Check3", tr("Add All File(s) In &Folder"), 152);
    buildPercentageControls();
    describeControls();

    setTabOrder(Command1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, ListView1);
    setTabOrder(ListView1, Check3);
    setTabOrder(Check3, Slider1);
    Command1->setFocus();
}

void Form1::buildFrame()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(444, 321);
    QIcon blank(QStringLiteral(":/pictures/blank.ico"));
    if (blank.isNull()) {
        QPixmap clear(32, 32);
        clear.fill(Qt::transparent);
        blank = QIcon(clear);
    }
    setWindowIcon(blank);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Button, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setMouseTracking(true);
}

PictureButton* Form1::buildPictureButton(const char* name, const QString& caption, int left)
{
    auto* button = new PictureButton(this);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(QIcon(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(name))));
    button->setFont(arial(11.25));
    button->setGeometry(left, 136, 137, 81);
    button->setMouseTracking(true);
    button->installEventFilter(this);
    return button;
}

void Form1::buildList()
{
    ListView1 = new ImageListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(8, 8, 425, 121);
    ListView1->setFont(arial(9));
    ListView1->setToolTip(tr("Drag and drop files here. Double-click item to remove it. Move bar "
                             "to right and out of window to reveal full names."));
    ListView1->setMouseTracking(true);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this); // the Delete key
}

void Form1::buildPercentageControls()
{
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 288, 425, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->installEventFilter(this);

    Slider1 = new QSlider(this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    PercentageSlider::configure(*Slider1);
    Slider1->move(8, 240);

    // The mnemonic (Alt+P) is the slider's key.
    Label1 = new QLabel(tr("&Percentage of Original:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 224, 209, 17);
    Label1->setFont(arial(9));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setMouseTracking(true);
    Label1->installEventFilter(this);
}

void Form1::describeControls()
{
    // Besides the mnemonics, the keys of the desktops' own "Open" and "Open Folder", and
    // Ctrl+Return for the window's one action.
    const auto describe = [](PictureButton* button, const QKeySequence& keys,
                              const QString& description) {
        button->setKey(keys);
        button->setAccessibleDescription(description);
        button->setToolTip(
            QStringLiteral("%1 (%2)").arg(description, keys.toString(QKeySequence::NativeText)));
    };
    describe(Check1, QKeySequence::Open, tr("Choose picture files to add to the list"));
    describe(Check2, QKeySequence(Qt::CTRL | Qt::Key_Return),
        tr("Write a reduced copy of every listed picture beside it, at the percentage chosen"));
    describe(Check3, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
        tr("Add the files of a folder and of every folder below it"));

    ListView1->setAccessibleName(tr("Image File(s)"));
    ListView1->setAccessibleDescription(tr("The pictures to convert, in the order they are "
                                           "converted. Alt+Up and Alt+Down move the selected "
                                           "one, Delete removes it."));

    ProgressBar1->setAccessibleName(tr("Conversion progress"));
    ProgressBar1->setAccessibleDescription(tr("How much of the list has been converted"));

    Label1->setBuddy(Slider1);
    // A reader says the value with its unit.
    Slider1->setAccessibleName(tr("Percentage of Original"));
    const auto sayPercentage = [this](int value) {
        Slider1->setAccessibleDescription(tr("%1% of the original size per side").arg(value));
        Slider1->setToolTip(
            tr("%1% of the original size per side (%2)")
                .arg(value)
                .arg(QKeySequence(Qt::ALT | Qt::Key_P).toString(QKeySequence::NativeText)));
    };
    sayPercentage(Slider1->value());
    connect(Slider1, &QSlider::valueChanged, this, sayPercentage);
}
