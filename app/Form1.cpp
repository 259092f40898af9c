#include "app/Form1.h"

#include "app/MainModule.h"
#include "app/PictureButton.h"
#include "app/QtDialogs.h"
#include "background/WhiteSlider.h"
#include "conversion/ConversionRun.h"
#include "conversion/Percentage.h"
#include "filelist/widgets/ImageListHandlers.h"
#include "imaging/Pictures.h"
#include "runtime/AppError.h"
#include "runtime/Runtime.h"
#include "runtime/Shell32.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QtEndian>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int PointerDefault = 0;
constexpr int PointerBusy = 11;
constexpr int PointerCustom = 99;

const QString AppTitle = QStringLiteral("Pictelle");

// Thrown on the worker when the window has given up on the run, to unwind it quickly.
struct Abandoned
{
};

QFont arial(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// The hot spot stored in a .cur file's first directory entry; the picture loader returns
// the image only.
QPoint cursorHotSpot(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(14);
    if (head.size() < 14 || qFromLittleEndian<quint16>(head.constData() + 2) != 2)
        return {};
    return QPoint(qFromLittleEndian<quint16>(head.constData() + 10),
        qFromLittleEndian<quint16>(head.constData() + 12));
}

} // namespace

// Carries the run's calls from the worker thread to the window: progress is posted, the
// message boxes are waited for. Once abandoned, every call throws Abandoned on the worker.
class RunBridge : public std::enable_shared_from_this<RunBridge>
{
public:
    explicit RunBridge(QObject* window)
        : m_window(window)
    {
    }

    void post(std::function<void()> onGui)
    {
        if (abandoned())
            throw Abandoned {};
        QMetaObject::invokeMethod(m_window, std::move(onGui), Qt::QueuedConnection);
    }

    // Runs `onGui` on the window's thread and returns its answer.
    bool ask(std::function<bool()> onGui)
    {
        auto reply = std::make_shared<Reply>();
        post([self = shared_from_this(), reply, onGui = std::move(onGui)] {
            bool value = false;
            if (!self->abandoned()) {
                try {
                    value = onGui();
                } catch (...) {
                }
            }
            {
                std::lock_guard lock(self->m_mutex);
                reply->value = value;
                reply->ready = true;
            }
            self->m_changed.notify_all();
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return reply->ready || m_abandoned; });
        if (!reply->ready)
            throw Abandoned {};
        return reply->value;
    }

    void abandon()
    {
        {
            std::lock_guard lock(m_mutex);
            m_abandoned = true;
        }
        m_changed.notify_all();
    }

    bool abandoned()
    {
        std::lock_guard lock(m_mutex);
        return m_abandoned;
    }

private:
    struct Reply
    {
        bool ready = false;
        bool value = false;
    };

    QObject* m_window;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_abandoned = false;
};

namespace {

// The run's host on the worker thread. The slider and the list are locked while the run
// goes on, so the percentage and the count read at the start stay true.
class WindowHost : public ConversionRun::Host
{
public:
    WindowHost(RunBridge& bridge, int percentage, int count,
        std::function<void(float)> showProgress, std::function<void()> showDoneOnGui,
        std::function<bool(const AppError&, bool)> askOnGui)
        : m_bridge(bridge)
        , m_percentage(percentage)
        , m_count(count)
        , m_showProgress(std::move(showProgress))
        , m_showDone(std::move(showDoneOnGui))
        , m_ask(std::move(askOnGui))
    {
    }

    int percentage() override { return m_percentage; }
    int entryCount() override { return m_count; }
    void setProgress(float value) override
    {
        m_bridge.post([show = m_showProgress, value] { show(value); });
    }
    void showDone() override
    {
        m_bridge.ask([show = m_showDone] {
            show();
            return true;
        });
    }
    bool goOnAfter(const AppError& error, bool entriesRemain) override
    {
        return m_bridge.ask(
            [ask = m_ask, error, entriesRemain] { return ask(error, entriesRemain); });
    }

private:
    RunBridge& m_bridge;
    int m_percentage;
    int m_count;
    std::function<void(float)> m_showProgress;
    std::function<void()> m_showDone;
    std::function<bool(const AppError&, bool)> m_ask;
};

} // namespace

Form1::Services Form1::defaultServices()
{
    Services services;
    services.dialogs = std::make_shared<QtDialogs>();
    services.rnd = [] {
        Runtime::Randomize();
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
    if (m_worker.joinable()) {
        m_bridge->abandon();
        Shell32::terminateRunning();
        m_worker.join();
    }
}

void Form1::buildControls()
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

    Command1 = new QPushButton(QStringLiteral("Command1"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(-48, 176, 41, 33);

    const auto pictureButton = [this](const char* name, const QString& caption, int left) {
        auto* button = new PictureButton(this);
        button->setObjectName(QLatin1String(name));
        button->setText(caption);
        button->setIcon(QIcon(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(name))));
        button->setFont(arial(11.25));
        button->setGeometry(left, 136, 137, 81);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        return button;
    };
    Check1 = pictureButton("Check1", QStringLiteral("Add Image File(s)"), 8);
    Check2 = pictureButton("Check2", QStringLiteral("Convert to Thumbnail"), 296);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(8, 8, 425, 121);
    ListView1->setFont(arial(9));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setColumnCount(0);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setToolTip(
        QStringLiteral("Drag and drop files here. Double-click item to remove it. Move bar to "
                       "right and out of window to reveal full names."));
    ListView1->setMouseTracking(true);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);

    Check3 = pictureButton("Check3", QStringLiteral("Add All File(s) In Folder"), 152);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 288, 425, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->installEventFilter(this);

    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setGeometry(8, 240, 425, 41);
    Slider1->setRange(1, 100);
    Slider1->setValue(40);
    Slider1->setPageStep(5);
    Slider1->setSingleStep(1);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(1);

    Label1 = new QLabel(QStringLiteral("Percentage of Original:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 224, 209, 17);
    Label1->setFont(arial(9));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setMouseTracking(true);
    Label1->installEventFilter(this);

    setTabOrder(Command1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, ListView1);
    setTabOrder(ListView1, Check3);
    setTabOrder(Check3, Slider1);
    Command1->setFocus();

    connect(Check1, &QAbstractButton::clicked, this, &Form1::Check1_Click);
    connect(Check2, &QAbstractButton::clicked, this, &Form1::Check2_Click);
    connect(Check3, &QAbstractButton::clicked, this, &Form1::Check3_Click);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
}

void Form1::Form_Load()
{
    WhiteSlider::SetStyle(Slider1, 0);
    WhiteSlider::SetSolidColor(Slider1, 0xFFFFFF);
    WhiteSlider::HookWindow(Slider1);

    Main::CenterForm(*this);
    setWindowTitle(AppTitle);

    const QString cursorPath = m_services.programFolder + QStringLiteral("/HAND-M.CUR");
    if (Main::FileExists(cursorPath)) {
        try {
            const QImage hand = Pictures::LoadPicture(cursorPath);
            const QPoint hot = cursorHotSpot(cursorPath);
            if (!hand.isNull())
                m_mouseIcon = QCursor(QPixmap::fromImage(hand), hot.x(), hot.y());
        } catch (const AppError&) {
            // A damaged pointer file: the buttons show the arrow instead of the hand.
        }
    }

    const int draw = int(m_services.rnd() * 100.0f) + 1;
    if (draw == 7) {
        try {
            m_services.launch(QStringLiteral("xdg-open \"%1\"").arg(QLatin1String(WebPage)));
        } catch (...) {
            // The page is a courtesy; nothing may keep the program from starting.
        }
    }

    Slider1->setValue(Percentage::remembered());

    ListView1->setHeaderLabels({ QStringLiteral("Image File(s)") });
    ListView1->setColumnWidth(0, 5300 / 15); // twips, the list's own column unit

    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Base, Qt::white);
    bar.setColor(QPalette::Window, Qt::white);
    ProgressBar1->setPalette(bar);
}

void Form1::Form_Unload()
{
    // Nothing needs saving: the percentage is stored at every change.
    Shell32::terminateRunning();
    m_services.endProgram();
}

void Form1::Form_MouseMove()
{
    setPointerUnlessBusy(PointerDefault);
}

void Form1::Check1_Click()
{
    if (!Check1->isChecked())
        return;
    Check1->setChecked(false);
    if (isConverting())
        return;

    const QStringList files = m_services.dialogs->openFiles(this,
        QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files"),
        QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf)|"
                       "*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf|All Files (*.*)|*.*"));
    for (const QString& file : files)
        new QTreeWidgetItem(ListView1, QStringList { file });
}

void Form1::Check1_MouseMove()
{
    setPointerUnlessBusy(PointerCustom);
}

void Form1::Check2_Click()
{
    if (!Check2->isChecked())
        return;
    Check2->setChecked(false);
    if (isConverting())
        return;

    ConversionRun::Options options;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        options.entries << ListView1->topLevelItem(i)->text(0);
    if (options.entries.isEmpty())
        return;
    options.programFolder = m_services.programFolder;

    const auto showProgress = [this](float value) { ProgressBar1->setValue(qRound(value)); };
    const auto showDone = [this] {
        m_services.dialogs->msgBox(
            this, QStringLiteral("done"), Dialogs::Buttons::OkOnly, Dialogs::Icon::None, AppTitle);
    };
    const auto askGoOn = [this](const AppError& error, bool entriesRemain) {
        if (!entriesRemain) {
            m_services.dialogs->msgBox(this, error.description(), Dialogs::Buttons::OkOnly,
                Dialogs::Icon::Critical, AppTitle);
            return false;
        }
        return m_services.dialogs->msgBox(this,
                   error.description() + QStringLiteral("\n\nGo on with the remaining entries?"),
                   Dialogs::Buttons::YesNo, Dialogs::Icon::Critical, AppTitle)
            == Dialogs::Answer::Yes;
    };

    setLocked(true);
    m_bridge = std::make_shared<RunBridge>(this);
    m_worker = std::thread([bridge = m_bridge, options, percentage = Slider1->value(),
                               count = int(options.entries.size()), showProgress, showDone, askGoOn,
                               this] {
        WindowHost host(*bridge, percentage, count, showProgress, showDone, askGoOn);
        try {
            ConversionRun::run(options, host);
        } catch (const Abandoned&) {
        } catch (const AppError& error) {
            try {
                bridge->ask([askGoOn, error] { return askGoOn(error, false); });
            } catch (const Abandoned&) {
            }
        } catch (const std::exception& error) {
            const AppError wrapped(ErrorNumber::InvalidCall, QString::fromLocal8Bit(error.what()));
            try {
                bridge->ask([askGoOn, wrapped] { return askGoOn(wrapped, false); });
            } catch (const Abandoned&) {
            }
        }
        try {
            bridge->post([this] { conversionEnded(); });
        } catch (const Abandoned&) {
        }
    });
}

void Form1::Check2_MouseMove()
{
    setPointerUnlessBusy(PointerCustom);
}

void Form1::ListView1_DblClick()
{
    if (isConverting())
        return;
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    delete selected.first();
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
    setPointerUnlessBusy(PointerCustom);
}

void Form1::ProgressBar1_MouseDown()
{
    setPointerUnlessBusy(PointerDefault);
}

void Form1::Slider1_Change()
{
    try {
        Percentage::remember(Slider1->value());
    } catch (const AppError& error) {
        // Said once: a store that cannot be written would otherwise speak at every move.
        if (!m_settingsErrorShown) {
            m_settingsErrorShown = true;
            m_services.dialogs->msgBox(this, error.description(), Dialogs::Buttons::OkOnly,
                Dialogs::Icon::Critical, AppTitle);
        }
    }
}

void Form1::Label1_MouseMove()
{
    setPointerUnlessBusy(PointerDefault);
}

void Form1::setMousePointer(int value)
{
    m_mousePointer = value;
    if (value == PointerBusy)
        setCursor(Qt::WaitCursor);
    else if (value == PointerCustom && m_mouseIcon)
        setCursor(*m_mouseIcon);
    else
        unsetCursor();
}

void Form1::setPointerUnlessBusy(int value)
{
    if (m_mousePointer != PointerBusy)
        setMousePointer(value);
}

void Form1::setLocked(bool locked)
{
    for (QWidget* control : { static_cast<QWidget*>(Check1), static_cast<QWidget*>(Check2),
             static_cast<QWidget*>(Check3), static_cast<QWidget*>(Slider1) })
        control->setEnabled(!locked);
    emit conversionLockChanged(locked);
}

void Form1::conversionEnded()
{
    if (m_worker.joinable())
        m_worker.join();
    m_bridge.reset();
    setLocked(false);
    emit conversionFinished();
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
            ListView1_DblClick();
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
