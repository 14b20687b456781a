#include "test_support.h"

#include "scan_dialog/frm_wo.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTest>
#include <QPainter>
#include <QThread>
#include <QWidget>

TempShare::TempShare()
    : m_map(QStringLiteral("labfs01"), m_dir.path())
{
    QDir().mkpath(samplesFolder() + QStringLiteral("/imgconv32"));
    QDir().mkpath(softwareFolder());
    const QString converter = samplesFolder() + QStringLiteral("/imgconv32/imgcon32.exe");
    QFile::copy(QStringLiteral(IMAGEMAKER_CONVERTER_PATH), converter);
    QFile::setPermissions(converter, QFile::permissions(converter) | QFile::ExeOwner);
    for (const QString view : { QStringLiteral("Color"), QStringLiteral("Bottom") })
        QImage(QStringLiteral(":/artwork/bt_vw_") + view + QStringLiteral(".png"))
            .save(softwareFolder() + QStringLiteral("/bt_vw_") + view + QStringLiteral(".jpg"));
}

QString TempShare::samplesFolder() const
{
    return m_dir.path() + QStringLiteral("/virtual_directories/IMG_SAMPLES/QORVEL");
}

QString TempShare::softwareFolder() const
{
    return m_dir.path() + QStringLiteral("/virtual_directories/IMG_SOFTWARE/QORVEL/Lens_Desk");
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitForFile(const QString& path, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!QFileInfo::exists(path)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

void writeBitmap(const QString& path, int width, int height, QColor tint)
{
    QImage image(width, height, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, tint);
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    image.save(path, "BMP");
}

void ScriptedPrompts::showMessage(QWidget*, const QString& text, const QString& title)
{
    log << (title.isEmpty() ? ApplicationTitle : title) + QLatin1Char('|') + text;
}

Answer ScriptedPrompts::askYesNo(QWidget*, const QString& text, const QString& title, bool noByDefault)
{
    log << (title.isEmpty() ? ApplicationTitle : title) + QLatin1Char('|') + text
            + (noByDefault ? QStringLiteral("|No by default") : QString());
    m_asking = true;
    if (onAsk)
        onAsk();
    m_asking = false;
    if (answers.empty())
        return {};
    const bool answer = answers.front();
    answers.pop_front();
    return { answer, {} };
}

void ScriptedPrompts::addToOpenQuestion(const QString& line)
{
    if (!m_asking)
        return;
    const qsizetype end = log.last().indexOf(QStringLiteral("|No by default"));
    log.last().insert(end < 0 ? log.last().size() : end, QLatin1Char('\n') + line);
}

void ScriptedScanDialog::show(Frm_Wo& dialog)
{
    QPointer<Frm_Wo> shown(&dialog);
    const auto open = [&] { return shown && shown->isVisible(); };
    dialog.show();
    // Whether it is answered in time is looked at below.
    static_cast<void>(QTest::qWaitFor([&] { return !open() || !m_actions.empty(); }, UnansweredLimitMs));
    if (open() && !m_actions.empty()) {
        Action action = std::move(m_actions.front());
        m_actions.pop_front();
        ++m_handled;
        action(shown.data());
        static_cast<void>(QTest::qWaitFor([&] { return !open(); }, UnansweredLimitMs));
    }
    if (open()) {
        qWarning("the scan dialog was left open %d s with no scripted action to close it; closing it",
            UnansweredLimitMs / 1000);
        shown->hide();
    }
}

bool mostlyColour(const QImage& image, QColor expected, int tolerance)
{
    if (image.isNull())
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int good = 0;
    int total = 0;
    for (int y = rgb.height() / 4; y < rgb.height() * 3 / 4; y += 7) {
        for (int x = rgb.width() / 4; x < rgb.width() * 3 / 4; x += 7) {
            const QColor c = rgb.pixelColor(x, y);
            ++total;
            if (qAbs(c.red() - expected.red()) <= tolerance && qAbs(c.green() - expected.green()) <= tolerance
                && qAbs(c.blue() - expected.blue()) <= tolerance)
                ++good;
        }
    }
    return total > 0 && good * 10 >= total * 9;
}

void awaitDone(const std::function<void(image_store::ShareWorker::Done)>& request, int timeoutMs)
{
    auto answered = std::make_shared<std::optional<std::exception_ptr>>();
    request([answered](std::exception_ptr error) { *answered = error; });
    if (!QTest::qWaitFor([&] { return answered->has_value(); }, timeoutMs))
        throw std::runtime_error("no answer within the test's bound");
    if (**answered)
        std::rethrow_exception(**answered);
}

void waitFor(image_store::ShareWorker& worker, std::vector<image_store::ShareWorker::Ticket> tickets)
{
    awaitDone(
        [&](image_store::ShareWorker::Done done) { worker.whenDone(std::move(tickets), std::move(done)); });
}

void startConversionNow(image_store::ImageStore& store, const QString& command)
{
    awaitDone(
        [&](image_store::ShareWorker::Done done) { store.startConversion(command, 2, {}, std::move(done)); });
}

QImage loadImageNow(const image_store::ImageStore& store, const QString& path)
{
    QImage picture;
    QString why;
    bool loaded = false;
    store.loadImage(path, {}, [&](const QImage& image, const QString& failure) {
        picture = image;
        why = failure;
        loaded = true;
    });
    if (!QTest::qWaitFor([&] { return loaded; }, 30000))
        throw std::runtime_error("no picture within the test's bound");
    if (!why.isEmpty())
        throw image_store::StoreError(why.toStdString());
    return picture;
}

void deleteJpegsNow(image_store::ImageStore& store, const QString& sample)
{
    awaitDone([&](image_store::ShareWorker::Done done) { store.deleteJpegs(sample, std::move(done)); });
}

void settleStillsNow(image_store::ImageStore& store)
{
    awaitDone([&](image_store::ShareWorker::Done done) { store.settleStills(std::move(done)); });
}

void settleStillsNow(image_store::ShareStillWriter& stills)
{
    awaitDone([&](image_store::ShareWorker::Done done) { stills.settle(std::move(done)); });
}
