// SPDX-License-Identifier: MIT

#include "app/Form1.h"

#include "app/MainModule.h"
#include "app/PictureButton.h"
#include "app/QtDialogs.h"
#include "app/RunBridge.h"
#include "background/PercentageSlider.h"
#include "conversion/ConversionRun.h"
#include "conversion/Percentage.h"
#include "filelist/widgets/ImageEntries.h"
#include "filelist/widgets/ImageListHandlers.h"
#include "filelist/widgets/ImageListView.h"
#include "filelist/widgets/WindowPointer.h"
#include "imaging/Pictures.h"
#include "runtime/AppError.h"
#include "runtime/Logging.h"
#include "runtime/Runtime.h"
#include "runtime/Shell32.h"
#include "runtime/Translations.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QSlider>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

const QString AppTitle = QStringLiteral("Pictelle");

} // namespace

Form1::Services Form1::defaultServices()
{
    Services services;
    services.dialogs = std::make_shared<QtDialogs>();
    services.rnd = [] {
        Runtime::Randomize(Runtime::Timer());
        return Runtime::Rnd();
    };
    services.launch = [](const QString& commandLine) {
        try {
            Runtime::Shell(commandLine, 2);
        } catch (const AppError&) {
            // No browser to be had; the program starts all the same.
        }
    };
    services.endProgram = [] {
        // The run's thread may be writing still: what it has begun goes, nothing new is
        // begun, and a converter gets its moment to take its own temporary file with it.
        Shell32::endLeavingNothing();
        std::fflush(nullptr);
        std::_Exit(0);
    };
    services.programFolder = Runtime::AppPath();
    return services;
}

Form1::Form1(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    Runtime::setDoEventsHook([] { QCoreApplication::processEvents(); });
    buildControls();
    connectHandlers();
    // The list's folder scan, drops and pointer drag live with the list's other handlers.
    m_imageList = new ImageListHandlers(ListView1,
        { m_services.dialogs, [this] { return m_mousePointer; },
            [this](int value) { setMousePointer(value); }, {}, m_services.programFolder },
        this);
    m_imageList->attach();
    connect(this, &Form1::conversionLockChanged, m_imageList, &ImageListHandlers::setLocked);
    Form_Load();
}

Form1::~Form1()
{
    if (m_run) {
        m_run->abandon();
        Shell32::terminateRunning(); // a converter the run waits for
        m_run.reset();
    }
}

void Form1::Form_Load()
{
    PercentageSlider::paintWhite(*Slider1);

    Main::CenterForm(*this);
    setWindowTitle(AppTitle);

    const QString cursorPath = m_services.programFolder + QStringLiteral("/HAND-M.CUR");
    if (Main::FileExists(cursorPath)) {
        try {
            QPoint hot;
            const QImage hand = Pictures::LoadPicture(cursorPath, &hot);
            if (!hand.isNull())
                m_mouseIcon = QCursor(QPixmap::fromImage(hand), hot.x(), hot.y());
        } catch (const AppError&) {
            // A damaged pointer file: the buttons show the arrow instead of the hand.
        }
    }

    const int draw = int(m_services.rnd() * 100.0f) + 1;
    if (draw == 7) {
        // The page is a courtesy; nothing may keep the program from starting. The real
        // launch already passes over an AppError (no browser); what else a launch can throw
        // is a std::exception (out of memory, above all).
        try {
            m_services.launch(QStringLiteral("xdg-open \"%1\"").arg(QLatin1String(WebPage)));
        } catch (const std::exception& error) {
            qCWarning(lcApp, "The web page could not be opened: %s", error.what());
        }
    }

    Slider1->setValue(Percentage::remembered());

    ListView1->setColumnWidth(0, 5300 / 15); // twips, the list's own column unit

    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Base, Qt::white);
    bar.setColor(QPalette::Window, Qt::white);
    ProgressBar1->setPalette(bar);
}

void Form1::Form_Unload()
{
    // Nothing needs saving: the percentage is stored at every change.
    m_services.endProgram();
}

void Form1::Form_MouseMove()
{
    setPointerUnlessBusy(WindowPointer::Default);
}

QString Form1::addFilesFilter()
{
    // The kinds beyond the window's own two entries, in one entry of their own.
    const QString newKinds
        = QStringLiteral("*.webp;*.tif;*.tiff;*.gif;*.heic;*.heif;*.hif;*.avif;*.jxl")
        + QStringLiteral(";*.dng;*.cr2;*.cr3;*.nef;*.nrw;*.arw;*.srf;*.sr2;*.orf;*.rw2;*.raf;*.pef"
                         ";*.srw;*.3fr;*.iiq;*.mrw;*.erf");
    return tr("All Pictures")
        + QStringLiteral(
            " (*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf)|*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf|")
        + tr("All Files") + QStringLiteral(" (*.*)|*.*|") + tr("More Kinds of Pictures")
        + QStringLiteral(" (") + newKinds + QStringLiteral(")|") + newKinds;
}

void Form1::Check1_Click()
{
    if (!Check1->isChecked())
        return;
    Check1->setChecked(false);
    if (isConverting())
        return;

    const QStringList files = m_services.dialogs->openFiles(
        this, tr("Add File(s) - Hold Ctrl or Shift to select multiple files"), addFilesFilter());
    ListView1->entries()->append(files);
}

void Form1::Check1_MouseMove()
{
    setPointerUnlessBusy(WindowPointer::Custom);
}

void Form1::Check2_Click()
{
    if (!Check2->isChecked())
        return;
    Check2->setChecked(false);
    if (isConverting())
        return;

    ConversionRun::Options options;
    options.entries = ListView1->entries()->texts();
    if (options.entries.isEmpty())
        return;
    options.programFolder = m_services.programFolder;

    setLocked(true);
    m_run = std::make_unique<RunWorker>(this, runWindowSide(), Slider1->value(),
        int(options.entries.size()),
        [options](ConversionRun::Host& host) { ConversionRun::run(options, host); });
}

void Form1::Check2_MouseMove()
{
    setPointerUnlessBusy(WindowPointer::Custom);
}

void Form1::ListView1_DblClick()
{
    removeSelectedEntry();
}

void Form1::ListView1_KeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    if (key == Qt::Key_Delete)
        removeSelectedEntry();
    else if (modifiers == Qt::AltModifier && (key == Qt::Key_Up || key == Qt::Key_Down))
        m_imageList->moveSelectedEntry(key == Qt::Key_Up ? -1 : 1);
}

void Form1::Check3_Click()
{
    if (!Check3->isChecked())
        return;
    Check3->setChecked(false);
    m_imageList->addFolder();
}

void Form1::Check3_MouseMove()
{
    setPointerUnlessBusy(WindowPointer::Custom);
}

void Form1::ProgressBar1_MouseDown()
{
    setPointerUnlessBusy(WindowPointer::Default);
}

void Form1::Slider1_Change()
{
    try {
        Percentage::remember(Slider1->value());
    } catch (const AppError& error) {
        // Said once: a store that cannot be written would otherwise speak at every move.
        if (!m_settingsErrorShown) {
            m_settingsErrorShown = true;
            showMessage(
                Translations::errorDescription(error.description()), Dialogs::Icon::Critical);
        }
    }
}

void Form1::Label1_MouseMove()
{
    setPointerUnlessBusy(WindowPointer::Default);
}

void Form1::removeSelectedEntry()
{
    if (isConverting())
        return;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    ListView1->entries()->removeAt(selected.first().row());
}

void Form1::setMousePointer(int value)
{
    m_mousePointer = value;
    if (value == WindowPointer::Busy)
        setCursor(Qt::WaitCursor);
    else if (value == WindowPointer::Custom && m_mouseIcon)
        setCursor(*m_mouseIcon);
    else
        unsetCursor();
}

void Form1::setPointerUnlessBusy(int value)
{
    if (m_mousePointer != WindowPointer::Busy)
        setMousePointer(value);
}

void Form1::setLocked(bool locked)
{
    for (QWidget* control : { static_cast<QWidget*>(Check1), static_cast<QWidget*>(Check2),
             static_cast<QWidget*>(Check3), static_cast<QWidget*>(Slider1) })
        control->setEnabled(!locked);
    emit conversionLockChanged(locked);
}

// What the conversion run shows and asks, on the window's thread.
RunWindowSide Form1::runWindowSide()
{
    RunWindowSide side;
    side.showProgress = [this](float value) { ProgressBar1->setValue(qRound(value)); };
    side.showDone = [this] { showMessage(tr("done"), Dialogs::Icon::None); };
    side.askGoOn = [this](const AppError& error, bool entriesRemain) {
        const QString description = Translations::errorDescription(error.description());
        if (!entriesRemain) {
            showMessage(description, Dialogs::Icon::Critical);
            return false;
        }
        return m_services.dialogs->msgBox(this,
                   description + QStringLiteral("\n\n") + tr("Go on with the remaining entries?"),
                   Dialogs::Buttons::YesNo, Dialogs::Icon::Critical, AppTitle)
            == Dialogs::Answer::Yes;
    };
    side.ended = [this] { conversionEnded(); };
    return side;
}

void Form1::showMessage(const QString& text, Dialogs::Icon icon)
{
    m_services.dialogs->msgBox(this, text, Dialogs::Buttons::OkOnly, icon, AppTitle);
}

void Form1::conversionEnded()
{
    m_run.reset(); // its last call has come: this waits for the thread to end
    setLocked(false);
    emit conversionFinished();
}

void Form1::connectHandlers()
{
    connect(Check1, &QAbstractButton::clicked, this, &Form1::Check1_Click);
    connect(Check2, &QAbstractButton::clicked, this, &Form1::Check2_Click);
    connect(Check3, &QAbstractButton::clicked, this, &Form1::Check3_Click);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

void Form1::mouseMoveEvent(QMouseEvent* event)
{
    // Moves over a control that does not track the mouse arrive here too; only the bare
    // background counts.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        if (watched == Check1)
            Check1_MouseMove();
        else if (watched == Check2)
            Check2_MouseMove();
        else if (watched == Check3)
            Check3_MouseMove();
        else if (watched == Label1)
            Label1_MouseMove();
        break;
    case QEvent::MouseButtonPress:
        if (watched == ProgressBar1)
            ProgressBar1_MouseDown();
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == ListView1->viewport()) {
            // The other buttons' double clicks end here too, so the list does nothing with
            // them either.
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                ListView1_DblClick();
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (watched == ListView1) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers modifiers
                = key->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier);
            if (key->key() == Qt::Key_Delete
                || (modifiers == Qt::AltModifier
                    && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down))) {
                ListView1_KeyDown(key->key(), modifiers);
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
