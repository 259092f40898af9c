// SPDX-License-Identifier: MIT

#pragma once

#include "runtime/Dialogs.h"

#include <QCursor>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class ImageListHandlers;
class PictureButton;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class ImageListView;
class RunWorker;
struct RunWindowSide;

// The one window of Pictelle. A handler is named Control_Event, after its control and the
// event that runs it (Check2_Click, Slider1_Change, Form_Load), so it is not lowerCamel; the
// controls keep the names those handlers are made of (glossary in docs/DEVELOPMENT.md).
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // What the window reaches outside itself; tests replace each of these.
    struct Services
    {
        std::shared_ptr<Dialogs> dialogs; // the modal dialogs
        std::function<float()> rnd; // seeded random fraction, at least 0 and below 1
        std::function<void(const QString&)> launch; // starts a command line, no waiting
        // Ends the process at once, leaving no temporary file and no converter behind.
        std::function<void()> endProgram;
        QString programFolder; // holds HAND-M.CUR, drag.ico and the converters
    };

    // The real dialogs, the runtime's random numbers and process start, std::_Exit, and
    // the executable's folder.
    static Services defaultServices();

    // The page opened at about one start in a hundred.
    static constexpr char WebPage[] = "https://www.quorvane.example/pictelle/";
    // The file types of the "add files" dialog: names and patterns, "|"-separated; the
    // names in the user's language.
    static QString addFilesFilter();

    // Builds the controls (buildControls) and runs Form_Load.
    explicit Form1(Services services = defaultServices(), QWidget* parent = nullptr);
    // Abandons a conversion run still under way and waits for its thread; only reached when
    // the program did not end through Form_Unload (tests).
    ~Form1() override;

    // The window pointer (WindowPointer): 0 default, 11 busy, 99 the hand loaded from
    // HAND-M.CUR (an arrow when there is none).
    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int value);
    // True when HAND-M.CUR was loaded as the window's custom pointer.
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }
    // True while a conversion run started by Check2 is under way.
    bool isConverting() const { return m_run != nullptr; }

    // The controls, in tab order (their names: the glossary of docs/DEVELOPMENT.md).
    QPushButton* Command1 = nullptr;
    PictureButton* Check1 = nullptr;
    PictureButton* Check2 = nullptr;
    ImageListView* ListView1 = nullptr;
    PictureButton* Check3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QSlider* Slider1 = nullptr;
    QLabel* Label1 = nullptr;

signals:
    // Emitted on the GUI thread when a conversion run starts (true) and ends (false): the
    // buttons, the slider and the list's editing are locked meanwhile.
    void conversionLockChanged(bool locked);
    // Emitted on the GUI thread when a conversion run has ended and the window is unlocked.
    void conversionFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void Form_Load();
    void Form_Unload();
    void Form_MouseMove();
    void Check1_Click();
    void Check1_MouseMove();
    void Check2_Click();
    void Check2_MouseMove();
    void ListView1_DblClick();
    void ListView1_KeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Check3_Click();
    void Check3_MouseMove();
    void ProgressBar1_MouseDown();
    void Slider1_Change();
    void Label1_MouseMove();

private:
    // The controls' geometry, fonts, captions and tab order (Form1Controls.cpp).
    void buildControls();
    void buildFrame();
    PictureButton* buildPictureButton(const char* name, const QString& caption, int left);
    void buildList();
    void buildPercentageControls();
    // Keys, tooltips and what screen readers say of the controls.
    void describeControls();

    // The control events that arrive as signals; the others pass through eventFilter.
    void connectHandlers();

    RunWindowSide runWindowSide();
    void showMessage(const QString& text, Dialogs::Icon icon);
    void setPointerUnlessBusy(int value);
    // Takes the selected entry out of the list; nothing during a run or with none selected.
    void removeSelectedEntry();
    void setLocked(bool locked);
    void conversionEnded();

    Services m_services;
    int m_mousePointer = 0;
    std::optional<QCursor> m_mouseIcon;
    ImageListHandlers* m_imageList = nullptr;
    std::unique_ptr<RunWorker> m_run; // the conversion run under way
    bool m_settingsErrorShown = false;
};
