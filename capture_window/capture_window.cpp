#include "capture_window/capture_window.h"

#include "capture_window/artwork.h"
#include "capture_window/failure_words.h"
#include "capture_window/views.h"
#include "capture_window/window_accessible.h"
#include "capture_window/window_log.h"
#include "scan_dialog/frm_wo.h"
#include "scan_dialog/window_conventions.h"
#include "ui_form_imagemaker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QPixmap>
#include <QStyle>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>

namespace {
} // namespace

Form_ImageMaker::Form_ImageMaker(CaptureWindowServices services, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form_ImageMaker>())
    , m_camera(services.camera)
    , m_store(services.store)
    , m_prompts(services.prompts)
    , m_clock(std::move(services.clock))
    , m_scans(services.scans)
    , m_scanDialog(this, services.scans, std::move(services.showScanDialog))
    , m_conversions(std::move(services.conversionRetryDelays))
{
    ui->setupUi(this);
    setUpLayout();
    setUpArtwork();
    setUpAccessibleNames();
    setUpTimers();
    connectHandlers();

    guarded([this] { formLoad(); });

    // Nothing can be captured before a sample is armed; the start-up check
    // and arming enable the two buttons.
    ui->cmd_capture->setEnabled(false);
    ui->cmd_View->setEnabled(false);
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
    Timer1->setSingleShot(false);
    connect(Timer1, &QTimer::timeout, this, [this] { m_held.run([this] { Timer1_Timer(); }); });

    m_typedScanPause.setSingleShot(true);
    m_typedScanPause.setInterval(ScanDetector::PauseMs);
    connect(
        &m_typedScanPause, &QTimer::timeout, this, [this] { m_held.run([this] { typedScanEnded(false); }); });
}

void Form_ImageMaker::connectHandlers()
{
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        if (child->focusPolicy() != Qt::NoFocus)
            child->installEventFilter(this);

    // Nothing of the window's own runs inside a wait on the share, nor
    // anything the operator does; keys typed meanwhile come after it.
    m_store.worker().deliverUserInputDuringWaits(true);
    connect(&m_store.worker(), &image_store::ShareWorker::waitStarted, &m_held, &HeldCalls::hold);
    connect(&m_store.worker(), &image_store::ShareWorker::waitEnded, &m_held, &HeldCalls::release);
    connect(&m_store.worker(), &image_store::ShareWorker::waitStarted, &m_busyInput, &BusyInput::begin);
    connect(&m_store.worker(), &image_store::ShareWorker::waitEnded, &m_busyInput, &BusyInput::end);
    // Waits for a camera keep the view painting under the same discipline.
    m_camera.observeWaits(
        [this] {
            m_held.hold();
            m_busyInput.begin();
        },
        [this] {
            m_held.release();
            m_busyInput.end();
        });
    connect(&m_conversions, &ConversionWatch::unfinishedChanged, this, &Form_ImageMaker::renderStatus);
    connect(&m_conversions, &ConversionWatch::ended, this,
        [this](const QString& viewPrefix, const QString& sample) {
            m_held.run([this, viewPrefix, sample] { conversionEnded(viewPrefix, sample); });
        });

    connect(ui->cmd_View, &QPushButton::clicked, this, [this] { guarded([this] { cmd_View_Click(); }); });
    connect(ui->cmd_Close, &QPushButton::clicked, this, &Form_ImageMaker::cmd_Close_Click);
    connect(ui->cmd_wo, &QPushButton::clicked, this, &Form_ImageMaker::cmd_wo_Click);
    connect(ui->cmd_capture, &QPushButton::clicked, this, &Form_ImageMaker::cmd_capture_Click);
    connect(ui->lst_Captured, &QListWidget::itemDoubleClicked, this, &Form_ImageMaker::lst_Captured_DblClick);
    connect(ui->cmd_Redo, &QPushButton::clicked, this, &Form_ImageMaker::cmd_Redo_Click);
    connect(ui->cmd_Delete, &QPushButton::clicked, this, &Form_ImageMaker::cmd_Delete_Click);
}

Form_ImageMaker::~Form_ImageMaker()
{
    m_camera.attachView(nullptr);
    m_camera.observeWaits({}, {});
}

void Form_ImageMaker::formLoad()
{
    const QColor buttonFace(242, 240, 229);
    for (QPushButton* button : { ui->cmd_capture, ui->cmd_View }) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, buttonFace);
        button->setPalette(palette);
    }

    CurrentView = views::color().name;
    InitCameras();

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
}

void Form_ImageMaker::InitCameras()
{
    m_camera.InitializeControl(camera::ControlApplicationName, camera::ControlSettingsKey, 0);
    m_camera.SetStartupOptions(0, 0, 1);
    std::int32_t status = 0;
    m_camera.StartControl(status);
    m_camera.StartupSwitch(-1);

    const std::int32_t bottom = m_camera.SelectCamera(views::BottomCamIndex);
    const std::int32_t color = m_camera.SelectCamera(views::ColorCamIndex);
    if (bottom == 0 || color == 0) {
        m_prompts.showMessage(this, QStringLiteral("Unable to connect to any camera"));
        ui->cmd_capture->setEnabled(false);
    }
}

void Form_ImageMaker::cmd_View_Click()
{
    // Only exactly "Color" turns to the bottom view; anything else to colour.
    const views::View& next = CurrentView == views::color().name ? views::bottom() : views::color();
    // The button shows the view it turns back to.
    const views::View& back = views::other(next);
    // A share without the faces gets the ones shipped with the program; one
    // that holds a face it cannot read is reported.
    const std::optional<QImage> face = m_store.loadImageIfPresent(m_store.buttonFacePath(back.name));
    ui->cmd_View->setIcon(face ? QIcon(QPixmap::fromImage(*face)) : artwork::viewButtonFace(back.name));
    CurrentView = next.name;
    ui->lbl_view->setText(next.caption);
    ui->cmd_View->setAccessibleName(QStringLiteral("Show the ") + back.spokenCamera);
    m_camera.SelectCamera(next.cameraIndex);
}

void Form_ImageMaker::ShowSampleImages(const QString& sample)
{
    QString caption = QStringLiteral("Last Image Taken");
    ui->cmd_Redo->hide();
    ui->cmd_Delete->hide();
    ui->img_bttm->clear();
    ui->img_color->clear();
    m_shownSample.clear();
    if (sample.size() == 8) {
        m_shownSample = sample.trimmed();
        for (const views::View* view : views::all())
            loadPicture(view->filePrefix);
        caption = sample;
        ui->cmd_Redo->show();
        ui->cmd_Delete->show();
    }
    ui->lbl_Pictures->setText(caption);
}

QLabel* Form_ImageMaker::pictureBox(const QString& viewPrefix) const
{
    return viewPrefix == image_store::ColorPrefix ? ui->img_color : ui->img_bttm;
}

QSize Form_ImageMaker::pictureSize(const QString& viewPrefix) const
{
    // Decoded at the screen's pixel density, so it is sharp there.
    const QLabel* box = pictureBox(viewPrefix);
    return box->contentsRect().size() * box->devicePixelRatioF();
}

void Form_ImageMaker::loadPicture(const QString& viewPrefix)
{
    const ConversionWatch::Picture conversion = m_conversions.picture(viewPrefix, m_shownSample);
    if (conversion.state == ConversionWatch::State::Running) {
        sayConvertingWhenSlow(viewPrefix);
        return;
    }
    if (conversion.state == ConversionWatch::State::Failed) {
        showBoxText(viewPrefix, ConversionFailedText);
        return;
    }
    const QString path = m_store.imagePath(viewPrefix, m_shownSample, image_store::JpgExtension);
    QImage picture;
    QString failure;
    try {
        picture = m_store.loadImage(path, pictureSize(viewPrefix));
    } catch (const image_store::ShareNotAnswering&) {
        // Not one picture missing: the server; the operator must know.
        throw;
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    placePicture(viewPrefix, m_shownSample, conversion.take, picture, failure);
}

void Form_ImageMaker::placePicture(const QString& viewPrefix, const QString& sample, quint64 take,
    const QImage& picture, const QString& failure)
{
    const ConversionWatch::Picture conversion = m_conversions.picture(viewPrefix, sample);
    // Read for a sample no longer shown, or for a take a newer one replaced.
    if (sample != m_shownSample || conversion.state == ConversionWatch::State::Running
        || conversion.take != take)
        return;
    QLabel* box = pictureBox(viewPrefix);
    if (!picture.isNull()) {
        QImage sharp = picture;
        sharp.setDevicePixelRatio(box->devicePixelRatioF());
        box->setPixmap(QPixmap::fromImage(sharp));
        emit pictureShown(viewPrefix, sample);
        return;
    }
    // A JPEG that is not there (yet) leaves its box empty; one that a
    // conversion just wrote must be whole.
    if (conversion.state != ConversionWatch::State::Ended)
        return;
    // Its failure, when the tries are spent, comes back through conversionEnded.
    m_conversions.unreadable(viewPrefix, sample, take, failure);
}

void Form_ImageMaker::conversionFailed(const QString& viewPrefix, const QString& sample)
{
    const QString why = m_conversions.picture(viewPrefix, sample).failure;
    qCWarning(lcWindow, "Conversion of %s%s failed: %s", qPrintable(viewPrefix), qPrintable(sample),
        qPrintable(why));
    markHistory(sample);
    if (sample == m_shownSample)
        showBoxText(viewPrefix, ConversionFailedText);
    // The status line belongs to a sample armed since, if there is one.
    const QString armed = m_session.currentSample().trimmed();
    if (armed.isEmpty() || armed == sample)
        showStatus(conversionFailureText(views::ofPrefix(viewPrefix).name, sample), why);
}

void Form_ImageMaker::markHistory(const QString& sample)
{
    QStringList reasons;
    for (const views::View* view : views::all()) {
        const ConversionWatch::Picture picture = m_conversions.picture(view->filePrefix, sample);
        if (picture.state == ConversionWatch::State::Failed)
            reasons << conversionFailureText(view->name, sample) + QStringLiteral(": ") + picture.failure;
    }
    // The latest take of the sample carries the mark; earlier ones never do.
    bool latest = true;
    const QStringList& samples = m_session.capturedSamples();
    for (qsizetype i = samples.size() - 1; i >= 0; --i) {
        if (samples[i].trimmed() != sample)
            continue;
        QListWidgetItem* item = ui->lst_Captured->item(int(i));
        const QString why = latest ? reasons.join(QLatin1Char('\n')) : QString();
        item->setIcon(why.isEmpty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(why);
        item->setData(Qt::AccessibleDescriptionRole, why);
        latest = false;
    }
}

void Form_ImageMaker::showStatus(const QString& text, const QString& detail)
{
    m_statusText = text;
    m_statusDetail = detail;
    renderStatus();
}

void Form_ImageMaker::renderStatus()
{
    // Samples of the history still without their JPEGs stay told, whatever
    // is said since. One whose capture failed was told then.
    QSet<QString> captured;
    for (const QString& sample : m_session.capturedSamples())
        captured.insert(sample.trimmed());
    int unfinished = 0;
    for (const QString& sample : m_conversions.samplesWithoutJpeg())
        unfinished += captured.contains(sample) ? 1 : 0;
    QString text = m_statusText;
    QStringList detail;
    if (!m_statusDetail.isEmpty())
        detail << m_statusDetail;
    if (unfinished > 0) {
        text += QStringLiteral(" \u00b7 %1 without JPEG").arg(unfinished);
        detail << QStringLiteral("%1 of this run's samples lack a JPEG: it is being made again, or its "
                                 "history line is marked.")
                      .arg(unfinished);
    }
    ui->lbl_Status->setText(text);
    ui->lbl_Status->setToolTip(detail.join(QLatin1Char('\n')));
    ui->lbl_Status->setAccessibleDescription(detail.join(QLatin1Char('\n')));
}

void Form_ImageMaker::showBoxText(const QString& viewPrefix, const QString& text)
{
    QLabel* box = pictureBox(viewPrefix);
    box->setAlignment(Qt::AlignCenter);
    box->setWordWrap(true);
    box->setText(text);
}

void Form_ImageMaker::sayConvertingWhenSlow(const QString& viewPrefix)
{
    const QString sample = m_shownSample;
    const auto runFor = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_conversions.picture(viewPrefix, sample).startedAt);
    const auto left = std::chrono::milliseconds(ConvertingNoticeMs) - runFor;
    QTimer::singleShot(std::max(left, std::chrono::milliseconds(0)), this, [this, viewPrefix, sample] {
        m_held.run([this, viewPrefix, sample] {
            // The picture, or its failure, replaces it when the conversion ends.
            if (sample == m_shownSample
                && m_conversions.picture(viewPrefix, sample).state == ConversionWatch::State::Running)
                showBoxText(viewPrefix, ConvertingText);
        });
    });
}

void Form_ImageMaker::conversionEnded(const QString& viewPrefix, const QString& sample)
{
    if (m_conversions.picture(viewPrefix, sample).state == ConversionWatch::State::Failed) {
        conversionFailed(viewPrefix, sample);
        return;
    }
    // One that ended well takes back its mark.
    markHistory(sample);
    if (m_shownSample.isEmpty() || sample != m_shownSample)
        return;
    // Read without waiting: the operator may be answering a question meanwhile.
    const quint64 take = m_conversions.picture(viewPrefix, sample).take;
    m_store.loadImageLater(m_store.imagePath(viewPrefix, sample, image_store::JpgExtension),
        pictureSize(viewPrefix),
        [window = QPointer<Form_ImageMaker>(this), viewPrefix, sample, take](
            const QImage& picture, const QString& failure) {
            if (window)
                window->m_held.run([window, viewPrefix, sample, take, picture, failure] {
                    if (window)
                        window->placePicture(viewPrefix, sample, take, picture, failure);
                });
        });
}

void Form_ImageMaker::cmd_Close_Click()
{
    close();
}

void Form_ImageMaker::closeEvent(QCloseEvent* event)
{
    Timer1->stop();
    m_typedScanPause.stop();
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
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const ScanDetector::Kind kind = m_scans.see(*key);
        // A held key's repeats, a scan's prefix, the rest of its suffix.
        if (kind == ScanDetector::Kind::Ignored)
            return true;
        if (event->type() == QEvent::KeyPress && scanKeyTyped(watched, *key, kind))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool Form_ImageMaker::scanKeyTyped(QObject* watched, const QKeyEvent& key, ScanDetector::Kind kind)
{
    if (QApplication::activeModalWidget())
        return false;
    if (kind == ScanDetector::Kind::End) {
        if (m_typedScanPause.isActive()) {
            typedScanEnded(true);
            return true;
        }
        // Enter on a history entry shows it, as a double-click does.
        if (watched == ui->lst_Captured && ui->lst_Captured->currentItem()) {
            lst_Captured_DblClick();
            return true;
        }
        return false;
    }
    if (kind != ScanDetector::Kind::Digit)
        return false;
    // Until its end, or a pause, the scan goes on in the dialog's number.
    m_scanDialog.dialog().digitTyped(key.text().at(0));
    m_typedScanPause.start();
    return true;
}

void Form_ImageMaker::guarded(const std::function<void()>& handler)
{
    ++m_handling;
    const auto handled = qScopeGuard([this] { --m_handling; });
    try {
        handler();
    } catch (const std::exception& error) {
        report(error);
    }
}

void Form_ImageMaker::report(const std::exception& error)
{
    qCWarning(lcWindow, "%s", error.what());
    try {
        m_prompts.showMessage(this, QString::fromStdString(error.what()));
    } catch (...) {
        // Nothing is left to tell the operator with.
    }
}
