// The program's command line: --help and --version answered without a
// window, anything else refused; and how both programs write their logs.
#include "app/command_line.h"
#include "app/log_output.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>

class TestCommandLine : public QObject {
    Q_OBJECT

    struct Answer {
        std::optional<int> status;
        QString out, err;
    };
    static Answer answer(const QStringList& arguments)
    {
        Answer a;
        QTextStream out(&a.out), err(&a.err);
        a.status = answerCommandLine(QStringList { "imagemaker" } + arguments, out, err);
        return a;
    }

private slots:
    void helpAndVersion_printAndEnd_otherArgumentsAreRefusedInOneLine()
    {
        QVERIFY(!answer({}).status);
        const Answer help = answer({ "--help" });
        QCOMPARE(help.status, 0);
        QVERIFY2(help.out.contains("--version") && help.out.contains("imagemaker-cameras(1)"),
            qPrintable(help.out));
        const Answer version = answer({ "--version" });
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QString("imagemaker " IMAGEMAKER_VERSION "\n"));
        for (const QStringList& wrong : { QStringList { "--frobnicate" }, QStringList { "00012345" } }) {
            const Answer refused = answer(wrong);
            QCOMPARE(refused.status, 2);
            QVERIFY(refused.out.isEmpty());
            QCOMPARE(refused.err.count('\n'), 1);
            QVERIFY2(refused.err.startsWith("imagemaker: "), qPrintable(refused.err));
        }
    }

    // The installed way: no display at all, so a window could not open.
    void program_answersHelpWithoutAnyDisplay()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(environment);
        program.start(IMAGEMAKER_PROGRAM_PATH, { "--version" });
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(program.readAllStandardOutput(), QByteArray("imagemaker " IMAGEMAKER_VERSION "\n"));
        program.start(IMAGEMAKER_PROGRAM_PATH, { "--no-such-option" });
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.readAllStandardError().startsWith("imagemaker: "));
    }

    void log_saysItsSeverity_asPriorityForTheJournal_inWordsOnATerminal()
    {
        using log_output::Form;
        QCOMPARE(log_output::format(QtWarningMsg, "imagemaker.camera", "camera 0 failed", Form::Terminal),
            QByteArray("warning: imagemaker.camera: camera 0 failed\n"));
        QCOMPARE(log_output::format(QtInfoMsg, "imagemaker.share", "mounted", Form::Terminal),
            QByteArray("info: imagemaker.share: mounted\n"));
        // Every line of a record keeps its priority in the journal.
        QCOMPARE(log_output::format(QtWarningMsg, "imagemaker.camera", "failed\nsystem error", Form::Journal),
            QByteArray("<4>imagemaker.camera: failed\n<4>imagemaker.camera: system error\n"));
        QCOMPARE(log_output::format(QtCriticalMsg, "default", "out of memory", Form::Journal),
            QByteArray("<3>out of memory\n"));
        QCOMPARE(log_output::format(QtDebugMsg, "imagemaker.window", "x", Form::Journal).left(3),
            QByteArray("<7>"));
        QCOMPARE(log_output::format(QtFatalMsg, "imagemaker.window", "x", Form::Journal).left(3),
            QByteArray("<2>"));
    }

    void journal_isTheStreamJournalStreamNames()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        struct stat info { };
        QCOMPARE(::fstat(file.handle(), &info), 0);
        const QByteArray named
            = QByteArray::number(qulonglong(info.st_dev)) + ':' + QByteArray::number(qulonglong(info.st_ino));
        QVERIFY(log_output::isJournal(named, file.handle()));
        QVERIFY(!log_output::isJournal(named, STDIN_FILENO));
        QVERIFY(!log_output::isJournal(QByteArray::number(qulonglong(info.st_dev)) + ":1", file.handle()));
        QVERIFY(!log_output::isJournal("", file.handle()));
        QVERIFY(!log_output::isJournal("garbage", file.handle()));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
