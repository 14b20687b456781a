// The run's state without the window: arming, the history and the failure told.
#include "capture_window/capture_session.h"

#include <QtTest>

class TestCaptureSession : public QObject {
    Q_OBJECT
private slots:
    void history_keepsEveryCaptureInOrder_evenTheSameSampleTwice()
    {
        CaptureSession session;
        const QDateTime when(QDate(2026, 12, 8), QTime(16, 5, 9));
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QStringList lines;
        for (const char* sample : { "00000010", "00000020", "00000010" }) {
            session.arm(sample);
            lines << session.recordCapture(session.currentSample(), when, us);
        }
        QCOMPARE(session.capturedSamples(), (QStringList { "00000010", "00000020", "00000010" }));
        QCOMPARE(session.capturedCount(), 3);
        QCOMPARE(lines[1], QString("00000020 captured at.... 12/8/26 4:05:09 PM"));
        session.disarm();
        QCOMPARE(session.currentSample(), QString());
        QCOMPARE(session.capturedCount(), 3);
    }

    void failure_isTheAttemptsFirstReason_andStaysUntilTheNextSampleIsArmed()
    {
        CaptureSession session;
        QCOMPARE(session.waitingStatus(), QString("Waiting..."));
        session.arm("00012345");
        session.beginAttempt();
        session.captureFailed("Capture failed: camera", "the camera was unplugged");
        // The recovery's own error comes second; the first one is the cause.
        session.captureFailed("Capture failed: converter", "the converter cannot be started");
        QCOMPARE(session.failureStatus(), QString("Capture failed: camera"));
        QCOMPARE(session.failureDetail(), QString("the camera was unplugged"));
        session.disarm();
        QCOMPARE(session.waitingStatus(), QString("Capture failed: camera"));
        session.arm("00012346");
        QCOMPARE(session.waitingStatus(), QString("Waiting..."));
        QCOMPARE(session.failureDetail(), QString());
        session.beginAttempt();
        session.captureFailed("Capture failed: file server", "no answer");
        QCOMPARE(session.failureStatus(), QString("Capture failed: file server"));
    }

    void nextSampleNumber_carriesAndWraps_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("next");
        QTest::newRow("plain") << "00012345"
                               << "00012346";
        QTest::newRow("carry") << "00000099"
                               << "00000100";
        QTest::newRow("wrap") << "99999999"
                              << "00000000";
    }
    void nextSampleNumber_carriesAndWraps()
    {
        QFETCH(QString, sample);
        QFETCH(QString, next);
        QCOMPARE(CaptureSession::nextSampleNumber(sample), next);
    }
    void nextSampleNumber_notANumber_raises()
    {
        QVERIFY_THROWS_EXCEPTION(std::exception, CaptureSession::nextSampleNumber("Last Ima"));
    }

    void generalDateText_shortDateLongTimeWithoutZone()
    {
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(CaptureSession::generalDateText(QDateTime(QDate(2026, 12, 8), QTime(16, 5, 9)), us),
            QString("12/8/26 4:05:09 PM"));
        QCOMPARE(CaptureSession::generalDateText(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0)), us),
            QString("12/8/26"));
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(CaptureSession::generalDateText(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 1)), de),
            QString("02.01.26 00:00:01"));
    }
};

QTEST_GUILESS_MAIN(TestCaptureSession)
#include "test_capture_session.moc"
