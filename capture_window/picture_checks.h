#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class QProcess;

// Which checks a bench runs, from the [checks] group of its camera settings
// file: barcode, same_picture and blank (true or false, true when not set),
// and label, the camera the sample's label faces (colour, bottom or both).
struct CheckSettings {
    bool barcode = true;
    bool samePicture = true;
    bool blank = true;
    bool labelOnColour = true;
    bool labelOnBottom = false;
    // Missing file or keys: every check on, the label on the colour camera.
    static CheckSettings read(const QString& settingsFile);
};

// What a still measured, as the still checker printed it.
struct StillMeasure {
    double mean = 0;
    double spread = 0;
    double darkShare = 0;
    double brightShare = 0;
    QByteArray thumb; // 64x36 grey levels
    QStringList barcodes; // "FORMAT TEXT"
    static std::optional<StillMeasure> parse(const QByteArray& output);
};

// What a take's pictures say of its sample, found after the take without
// delaying it: a barcode of another number, the same picture as the last
// take of another number, a blank picture. The stills are measured one
// after another by the still checker, in a process of its own that serves
// take after take; a take's checks not ended at a bound are dropped, and a
// checker that hangs then is stopped, one that ends is started again for
// the next still. Only findings are told.
class PictureChecks final : public QObject {
    Q_OBJECT
public:
    struct Finding {
        QString status; // the status line's words
        QString said; // a sentence for the question and the history line
    };

    PictureChecks(QString checker, CheckSettings settings,
        std::chrono::milliseconds bound = std::chrono::milliseconds(1000));
    ~PictureChecks() override;

    // The take's stills, as local files.
    void check(const QString& sample, const QString& colourStill, const QString& bottomStill);
    // What the latest take of `sample` showed, once known; empty when
    // nothing was found or the checks have not ended.
    QList<Finding> findings(const QString& sample) const { return m_found.value(sample); }

    // The rules, for each take.
    static std::optional<QString> numberOnLabel(const QStringList& barcodes);
    // Mean absolute difference of two thumbnails, each taken from its own
    // mean first: a change of light alone is no change of scene.
    static double difference(const QByteArray& a, const QByteArray& b);
    static constexpr double SameSceneBelow = 2.0;
    // What each finding says: short on the status line, whole elsewhere.
    static Finding otherNumber(const QString& viewName, const QString& shown, const QString& sample);
    static Finding samePicture(const QString& earlier);
    static std::optional<Finding> blank(const QString& viewName, const StillMeasure& still);

signals:
    // Once a take's checks have ended in time; `findings` empty when
    // nothing is to be told.
    void checked(const QString& sample, const QList<PictureChecks::Finding>& findings);

private:
    struct Run;
    struct Request {
        quint64 run = 0;
        int still = 0; // 0 colour, 1 bottom
        QString path;
        bool readLabel = false;
    };
    void next();
    void answered(const QByteArray& output);
    // The checker ended or could not start: what it wrote counts.
    void checkerGone(QProcess* checker);
    void stopChecker();
    // "colour picture of 00012345", for the log.
    QString pictureOf(const Request& request) const;
    void measured(const Request& request, const QByteArray& output);
    void judge(Run& run);

    QString m_checker;
    QProcess* m_process = nullptr;
    QByteArray m_output;
    std::optional<Request> m_current;
    QList<Request> m_queue;
    CheckSettings m_settings;
    std::chrono::milliseconds m_bound;
    quint64 m_nextRun = 0;
    QHash<quint64, std::shared_ptr<Run>> m_runs;
    QHash<QString, QList<Finding>> m_found;
    // The colour picture of the latest take, to compare the next number's with.
    QString m_lastSample;
    QByteArray m_lastThumb;
};
