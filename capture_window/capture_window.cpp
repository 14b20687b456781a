#include "capture_window/capture_window.h"

#include "capture_window/artwork.h"
#include "capture_window/views.h"
#include "capture_window/window_log.h"
#include "capture_window/window_accessible.h"
#include "scan_dialog/frm_wo.h"
#include "scan_dialog/window_conventions.h"
#include "ui_form_imagemaker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>

Form_ImageMaker::Form_ImageMaker(CaptureWindowServices services, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form_ImageMaker>())
    , m_camera(services.camera)
    , m_store(services.store)
    , m_prompts(services.prompts)
    , m_scans(services.scans)
    , m_scanDialog(this, services.scans, std::move(services.showScanDialog))
    , m_conversions(services.store, std::move(services.conversionRetryDelays))
    , m_flow(services.camera, services.store, m_conversions, *this, std::move(services.clock))
{
    ui->setupUi(this);
    m_results
        = std::make_unique<ResultsView>(ResultsView::Widgets { ui->lbl_Pictures, ui->img_bttm, ui->img_color,
                                            ui->cmd_Redo, ui->cmd_Delete, ui->lst_Captured, ui->lbl_Status },
            m_store, m_conversions, m_flow.session());
    if (services.checks) {
        m_flow.setPictureChecks(services.checks);
        connect(services.checks, &PictureChecks::checked, m_results.get(), &ResultsView::checked);
    }
    setUpLayout();
    setUpArtwork();
    setUpAccessibleNames();
    setUpTimers();
    connectHandlers();
    formLoad();
    Timer1->start();
}

void Form_ImageMaker::setUpLayout()
{
    setFixedSize(size());
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    applyButtonConventions(this);
    // Frames are opaque, so the panel buttons' captions stay hidden behind them.
    // Their colour stays the platform's, whatever colour the window takes.
    for (QFrame* frame :
        { ui->Frame1, ui->Frame2, ui->Frame3, ui->Frame4, ui->Frame5, ui->Frame6, ui->Frame7 }) {
        QPalette own = frame->palette();
        own.setColor(QPalette::Window, QApplication::palette().color(QPalette::Window));
        frame->setPalette(own);
        frame->setAutoFillBackground(true);
    }
}

void Form_ImageMaker::setUpArtwork()
{
    const QPixmap banner = artwork::headerBanner().pixmap(artwork::BannerSize, devicePixelRatioF());
    for (QLabel* strip : { ui->Image1, ui->Image2, ui->Image3 })
        strip->setPixmap(banner);
    ui->cmd_View->setIcon(artwork::viewButtonFace(views::color().name));
    ui->cmd_capture->setIcon(artwork::captureButtonFace());
    m_camera.attachView(ui->LiveCam1);
}

void Form_ImageMaker::setUpAccessibleNames()
{
    // Names a screen reader speaks for the controls that take the focus; the
    // graphical buttons have no caption to speak.
    const std::pair<QWidget*, const char*> spoken[] = {
        { ui->cmd_Close, "Close the program" },
        { ui->cmd_capture, "Take picture of both views" },
        { ui->LiveCam1, "Live camera picture" },
        { ui->cmd_wo, "Get sample number" },
        { ui->lst_Captured, "Images captured" },
        { ui->cmd_Redo, "Take the pictures of the shown sample again" },
        { ui->cmd_Delete, "Delete the JPEGs of the shown sample" },
        { ui->img_bttm, "Bottom picture" },
        { ui->img_color, "Colour picture" },
    };
    for (const auto& [widget, name] : spoken)
        widget->setAccessibleName(QString::fromLatin1(name));
    // The buttons drawn as the panels' raised edges do nothing: no focus,
    // and nothing for a screen reader.
    WindowAccessible::install();
    for (QWidget* decoration : { ui->Command1, ui->Command2, ui->Command3 })
        decoration->setProperty(WindowAccessible::DecorationProperty, true);
    ui->cmd_View->setAccessibleName(QStringLiteral("Show the bottom camera"));
}

void Form_ImageMaker::setUpTimers()
{
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(StartupCheckDelayMs);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, &m_flow, &CaptureFlow::startupTick);
}

void Form_ImageMaker::connectHandlers()
{
    m_scans.startTaking(*this);
    ui->lst_Captured->installEventFilter(this);
    ui->img_color->installEventFilter(this);
    ui->img_bttm->installEventFilter(this);
    connect(ui->LiveCam1, &camera::LiveView::activated, this, &Form_ImageMaker::lookCloserAtLive);

    connect(m_results.get(), &ResultsView::pictureShown, this, &Form_ImageMaker::pictureShown);
    connect(&m_flow, &CaptureFlow::failed, this, &Form_ImageMaker::report);
    connect(ui->cmd_View, &QPushButton::clicked, &m_flow, &CaptureFlow::toggleView);
    connect(ui->cmd_Close, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->cmd_wo, &QPushButton::clicked, &m_flow, &CaptureFlow::getNumber);
    connect(ui->cmd_capture, &QPushButton::clicked, &m_flow, &CaptureFlow::capture);
    connect(ui->lst_Captured, &QListWidget::itemDoubleClicked, this,
        [this] { m_flow.showHistoryEntry(ui->lst_Captured->currentRow()); });
    connect(ui->cmd_Redo, &QPushButton::clicked, &m_flow, &CaptureFlow::redo);
    connect(ui->cmd_Delete, &QPushButton::clicked, this, [this] {
        if (!m_flow.mayReview())
            return;
        m_results->deleting();
        m_flow.deleteShown();
    });
}

void Form_ImageMaker::lookCloserAtLive()
{
    if (m_flow.state() != CaptureFlow::State::Idle || m_closerLook)
        return;
    openCloserLook();
    m_camera.attachView(m_closerLook->view());
    // Its frames go to the closer look meanwhile.
    ui->LiveCam1->setFrozen(true);
    connect(m_closerLook, &CloserLook::closed, this, [this] { m_camera.attachView(ui->LiveCam1); });
}

void Form_ImageMaker::lookCloserAtPicture(const QString& viewPrefix)
{
    const QString sample = m_results->shownSample();
    if (sample.isEmpty() || m_flow.state() != CaptureFlow::State::Idle || m_closerLook)
        return;
    m_store.loadImage(m_store.imagePath(viewPrefix, sample, image_store::JpgExtension), QSize(),
        [this, guard = QPointer<Form_ImageMaker>(this), sample](
            const QImage& picture, const QString& failure) {
            if (!guard || picture.isNull() || m_closerLook || m_results->shownSample() != sample
                || m_flow.state() != CaptureFlow::State::Idle) {
                if (!failure.isEmpty())
                    qCWarning(lcWindow, "Picture of %s not shown at full size: %s", qPrintable(sample),
                        qPrintable(failure));
                return;
            }
            openCloserLook();
            m_closerLook->showPicture(picture);
        });
}

void Form_ImageMaker::openCloserLook()
{
    m_closerLook = new CloserLook(this);
    m_closerLook->show();
    m_closerLook->activateWindow();
}

Form_ImageMaker::~Form_ImageMaker()
{
    delete m_closerLook;
    m_scans.stopTaking(*this);
    m_camera.attachView(nullptr);
}

void Form_ImageMaker::formLoad()
{
    const QColor buttonFace(242, 240, 229);
    for (QPushButton* button : { ui->cmd_capture, ui->cmd_View }) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, buttonFace);
        button->setPalette(palette);
    }

    m_flow.start();

    QPalette window = palette();
    window.setColor(QPalette::Window, QColor(214, 141, 0));
    setPalette(window);
    setAutoFillBackground(true);

    const auto makeBold = [](QLabel* label) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    };
    makeBold(ui->lbl_ImagesCaptured);
    ui->lbl_view->setText(QStringLiteral("Color view"));
    makeBold(ui->lbl_view);
    makeBold(ui->lbl_Pictures);
    ui->lbl_labnumber->setFont(QFont(QStringLiteral("Tahoma"), 10, QFont::Bold));
    showStatus(QStringLiteral("Waiting..."));
    ShowSampleImages(QString());
    stateChanged();
}

void Form_ImageMaker::showViewChosen(const views::View& view)
{
    // The button shows the view it turns back to.
    const views::View& back = views::other(view);
    ui->lbl_view->setText(view.caption);
    ui->cmd_View->setAccessibleName(QStringLiteral("Show the ") + back.spokenCamera);
    ui->cmd_View->setIcon(artwork::viewButtonFace(back.name));
    // A share with the faces has the last word; one that holds a face it
    // cannot read is reported.
    m_store.loadImageIfPresent(m_store.buttonFacePath(back.name),
        [window = QPointer<Form_ImageMaker>(this), name = back.name](
            const QImage& face, const QString& failure) {
            if (!window || window->m_flow.currentView() == name)
                return;
            if (!failure.isEmpty()) {
                qCWarning(lcWindow, "View button face: %s", qPrintable(failure));
                window->report(QStringLiteral("The picture for the view button on the file server cannot be "
                                              "read; the program's own is shown."));
            } else if (!face.isNull())
                window->ui->cmd_View->setIcon(QIcon(QPixmap::fromImage(face)));
        });
}

QString Form_ImageMaker::numberText()
{
    return m_scanDialog.numberText();
}

void Form_ImageMaker::setNumberText(const QString& text)
{
    m_scanDialog.setNumberText(text);
}

bool Form_ImageMaker::showScanDialog()
{
    m_scanDialog.showModal();
    return m_scanDialog.exitSoftware();
}

void Form_ImageMaker::unloadScanDialog()
{
    m_scanDialog.unload();
}

Answer Form_ImageMaker::ask(const QString& text, const QString& title, bool noByDefault)
{
    return m_prompts.askYesNo(this, text, title, noByDefault);
}

void Form_ImageMaker::addToQuestion(const QString& line)
{
    m_prompts.addToOpenQuestion(line);
}

void Form_ImageMaker::tell(const QString& text)
{
    m_prompts.showMessage(this, text);
}

void Form_ImageMaker::showArmed(const QString& sample)
{
    showStatus(QStringLiteral("Ready"));
    ui->lbl_labnumber->setText(QStringLiteral(" Current sample in view : ") + sample.trimmed());
}

void Form_ImageMaker::showNothingArmed()
{
    m_results->showWaiting();
    ui->lbl_labnumber->setText(QString());
}

void Form_ImageMaker::showStatus(const QString& text, const QString& detail)
{
    m_results->showStatus(text, detail);
}

void Form_ImageMaker::addHistoryLine(const QString& line)
{
    m_results->addHistoryLine(line);
}

QString Form_ImageMaker::shownSampleCaption()
{
    return ui->lbl_Pictures->text();
}

void Form_ImageMaker::stateChanged()
{
    const bool busy = m_flow.busy();
    // While a step waits on a camera or the share, no button acts, nor its
    // Alt+letter; the focus comes back where it was.
    if (busy && !m_focusBeforeBusy && isAncestorOf(QApplication::focusWidget()))
        m_focusBeforeBusy = QApplication::focusWidget();
    ui->cmd_capture->setEnabled(m_flow.captureEnabled() && !busy);
    ui->cmd_View->setEnabled(m_flow.captureEnabled() && !busy);
    ui->cmd_wo->setEnabled(!busy);
    ui->cmd_Redo->setEnabled(!busy);
    ui->cmd_Delete->setEnabled(!busy);
    // Closing waits for a take, and acts at once otherwise.
    ui->cmd_Close->setEnabled(!m_flow.taking());
    // A step under way switches and captures the cameras: the live view is
    // the window's again.
    if (m_flow.state() != CaptureFlow::State::Idle && m_closerLook)
        m_closerLook->close();
    if (!busy && m_focusBeforeBusy) {
        if (m_focusBeforeBusy->isEnabled() && m_focusBeforeBusy->isVisible() && isActiveWindow())
            m_focusBeforeBusy->setFocus(Qt::OtherFocusReason);
        m_focusBeforeBusy = nullptr;
    }
}

void Form_ImageMaker::closeWindow()
{
    close();
}

void Form_ImageMaker::closeEvent(QCloseEvent* event)
{
    // Never from inside a take: the program ends once it is over.
    if (!m_flow.closeAsked()) {
        event->ignore();
        return;
    }
    Timer1->stop();
    m_scanDialog.unload();
    event->accept();
}

void Form_ImageMaker::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    ui->cmd_Close->setFocus(Qt::OtherFocusReason);
}

bool Form_ImageMaker::eventFilter(QObject* watched, QEvent* event)
{
    // A double-click on a picture of the panel shows that JPEG at its size.
    if ((watched == ui->img_color || watched == ui->img_bttm)
        && event->type() == QEvent::MouseButtonDblClick) {
        lookCloserAtPicture(watched == ui->img_color ? image_store::ColorPrefix : image_store::BottomPrefix);
        return true;
    }
    // Enter on a history entry shows it, as a double-click does.
    if (watched == ui->lst_Captured && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (ui->lst_Captured->currentItem())
                m_flow.showHistoryEntry(ui->lst_Captured->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form_ImageMaker::scanEnded(const QString& number)
{
    if (const QPointer<QWidget> box = QApplication::activeModalWidget()) {
        connect(box, &QObject::destroyed, this,
            [this, number] { QTimer::singleShot(0, this, [this, number] { m_flow.scanned(number); }); });
        return;
    }
    m_flow.scanned(number);
}

void Form_ImageMaker::notASampleNumber()
{
    // The dialog says so, and takes the next scan.
    if (!QApplication::activeModalWidget())
        m_flow.typedDigitsPaused();
}

bool Form_ImageMaker::typedEnded(const QKeyEvent&)
{
    // Under a box that only tells something, Enter is its OK.
    if (QApplication::activeModalWidget())
        m_scans.clear();
    if (m_scans.digits().isEmpty())
        return false;
    // A person's digits and Enter arm a number as the dialog's OK would.
    const QString digits = m_scans.take();
    if (!m_flow.busy() || digits.size() == SampleNumberLength)
        m_flow.scanned(digits);
    return true;
}

void Form_ImageMaker::typedPaused()
{
    // Digits typed by hand go on in the dialog.
    if (!QApplication::activeModalWidget())
        m_flow.typedDigitsPaused();
}

void Form_ImageMaker::report(const QString& what)
{
    try {
        m_prompts.showMessage(this, what);
    } catch (...) {
        // Nothing is left to tell the operator with.
    }
}
