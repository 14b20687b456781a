#pragma once

#include "capture_window/prompts.h"
#include "image_store/image_store.h"
#include "image_store/share_still_writer.h"

class Frm_Wo;

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// A share in a temporary folder, laid out like the embedded one: the sample
// folder with the real converter, the software folder with the button faces.
class TempShare {
public:
    TempShare();
    const image_store::ShareMap& map() const { return m_map; }
    QString root() const { return m_dir.path(); }
    QString samplesFolder() const;
    QString softwareFolder() const;
    // Local path of a file in the sample folder.
    QString sampleFile(const QString& name) const { return samplesFolder() + QLatin1Char('/') + name; }

private:
    QTemporaryDir m_dir;
    image_store::ShareMap m_map;
};

// The sample folder as the program names it on the share.
inline const QString SamplesSharePath
    = QStringLiteral("\\\\labfs01\\virtual_directories\\IMG_SAMPLES\\QORVEL\\");

// A file's whole contents; empty when it cannot be read.
QByteArray fileContents(const QString& path);

// Polls for a file that another process writes; the product never waits.
bool waitForFile(const QString& path, int timeoutMs = 10000);

// Writes a 24-bit bitmap of the given size with a soft gradient.
void writeBitmap(const QString& path, int width, int height, QColor tint = Qt::darkCyan);

// Message boxes answered from a script; every box is recorded as "title|text".
class ScriptedPrompts final : public Prompts {
public:
    void showMessage(QWidget* parent, const QString& text, const QString& title = {}) override;
    // Logged as "title|text", with "|No by default" after it when so.
    Answer askYesNo(
        QWidget* parent, const QString& text, const QString& title = {}, bool noByDefault = false) override;
    // Added to the question's line in the log, while onAsk runs.
    void addToOpenQuestion(const QString& line) override;

    std::deque<bool> answers; // next Yes/No answers; No when none is left
    std::function<void()> onAsk; // runs before each answer
    QStringList log;

private:
    bool m_asking = false;
};

// Answers the scan dialog from a script, as the window's way of showing it:
// each showing gets the next action, run on the shown dialog. A showing with
// nothing scripted stays open, as the real one would, until an action is
// added or the dialog hides; one left open 30 s is closed with a warning, so
// that a script's mistake fails its test instead of hanging it.
class ScriptedScanDialog {
public:
    using Action = std::function<void(QWidget*)>;
    void add(Action action) { m_actions.push_back(std::move(action)); }
    int pending() const { return static_cast<int>(m_actions.size()); }
    int handled() const { return m_handled; }
    void show(Frm_Wo& dialog);

private:
    static constexpr int UnansweredLimitMs = 30000;
    std::deque<Action> m_actions;
    int m_handled = 0;
};

// Makes a request of the share or a camera and waits, with the event loop
// running, for its answer; its failure is thrown here. The product never
// waits: a test may.
void awaitDone(const std::function<void(image_store::ShareWorker::Done)>& request, int timeoutMs = 30000);
void waitFor(image_store::ShareWorker& worker, std::vector<image_store::ShareWorker::Ticket> tickets);
template <typename Work>
auto callOn(image_store::ShareWorker& worker, Work work) -> std::invoke_result_t<Work>
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        awaitDone([&](image_store::ShareWorker::Done done) { worker.submit(work, std::move(done)); });
    } else {
        auto result = std::make_shared<std::optional<Result>>();
        awaitDone([&](image_store::ShareWorker::Done done) {
            worker.submit([result, work] { result->emplace(work()); }, std::move(done));
        });
        return std::move(**result);
    }
}
// Starts a converter and waits until it has started.
void startConversionNow(image_store::ImageStore& store, const QString& command);
// Reads a picture, or throws StoreError with the reason.
QImage loadImageNow(const image_store::ImageStore& store, const QString& path);
void deleteJpegsNow(image_store::ImageStore& store, const QString& sample);
void settleStillsNow(image_store::ImageStore& store);
void settleStillsNow(image_store::ShareStillWriter& stills);

// A uniform colour check over the centre of an image.
bool mostlyColour(const QImage& image, QColor expected, int tolerance = 40);
