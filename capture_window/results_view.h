#pragma once

#include "capture_window/capture_session.h"
#include "capture_window/conversion_watch.h"
#include "capture_window/picture_checks.h"

#include <QImage>
#include <QObject>
#include <QString>

class QLabel;
class QListWidget;
class QPushButton;
namespace image_store {
class ImageStore;
}

// What the window shows of the run's results: the picture panel (a
// sample's two JPEGs, "Converting…" or "Conversion failed" in their boxes),
// the status line with the count of samples without JPEG, and the marks on
// history lines whose conversions failed. Pictures are read without waiting
// and put in place when they come, if still wanted.
class ResultsView final : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLabel* caption; // lbl_Pictures
        QLabel* bottom; // img_bttm
        QLabel* color; // img_color
        QPushButton* redo;
        QPushButton* remove;
        QListWidget* history;
        QLabel* status;
    };
    ResultsView(Widgets widgets, image_store::ImageStore& store, ConversionWatch& conversions,
        const CaptureSession& session);

    static constexpr int ConvertingNoticeMs = 500;
    static inline const QString ConvertingText = QStringLiteral("Converting…");
    static inline const QString ConversionFailedText = QStringLiteral("Conversion failed");

    void ShowSampleImages(const QString& sample);
    // The sample whose pictures the panel shows; empty when none.
    const QString& shownSample() const { return m_shownSample; }
    void hideReviewButtons();
    // The JPEGs of the shown sample are being deleted: no "Converting…".
    void deleting();
    void addHistoryLine(const QString& line);
    // What the checks of a take's pictures found: on its history line and
    // the status line.
    void checked(const QString& sample, const QList<PictureChecks::Finding>& findings);
    // `text` for the operator, `detail` in its tooltip and for a screen reader.
    void showStatus(const QString& text, const QString& detail = {});
    // Nothing armed: what the operator should still know of the last take.
    void showWaiting();

signals:
    // A picture of the displayed sample was put in the panel.
    void pictureShown(const QString& viewPrefix, const QString& sample);

private:
    void loadPicture(const QString& viewPrefix);
    // Without waiting; put in place if still wanted when it comes.
    void readPicture(const QString& viewPrefix, const QString& sample, quint64 take);
    // `take` is the conversion's take the picture was read for.
    void placePicture(const QString& viewPrefix, const QString& sample, quint64 take, const QImage& picture,
        const QString& failure);
    void sayConvertingWhenSlow(const QString& viewPrefix);
    void showBoxText(const QString& viewPrefix, const QString& text);
    QLabel* pictureBox(const QString& viewPrefix) const;
    QSize pictureSize(const QString& viewPrefix) const;
    void conversionEnded(const QString& viewPrefix, const QString& sample);
    void conversionFailed(const QString& viewPrefix, const QString& sample);
    void markHistory(const QString& sample);
    void showFindings(const QList<PictureChecks::Finding>& findings);
    void renderStatus();

    Widgets m_widgets;
    image_store::ImageStore& m_store;
    ConversionWatch& m_conversions;
    const CaptureSession& m_session;
    // The sample whose pictures the panel shows; empty when none.
    QString m_shownSample;
    // The status line as last said, before the count of samples without JPEGs.
    QString m_statusText;
    QString m_statusDetail;
    // By sample, for its latest take: what its pictures' checks found.
    QHash<QString, QList<PictureChecks::Finding>> m_checkNotes;
};
