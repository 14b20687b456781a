// Random keystrokes, seeded, on the real window, scan dialog and question
// boxes: whole scans with every suffix and prefix, partial and over-long
// scans, scans back to back, stray digits, Enter, Space, Tab, Escape,
// Alt+letters and held keys, at a scanner's and a person's pace, into
// whatever has the focus, now and then while the share is slow. Checked all
// along: a picture is taken only under a number sent whole or offered by the
// program, and only after a person's key pressed once its question was on
// screen (or on Take Picture or Redo); the window ends only by a person's
// Close or Exit (or the window manager's close); every few steps, one whole
// scan still arms and asks; and at the end, across layers: the two stills of
// each take, its two converter commands and its history line name one
// sample, and every sample of the history ends with both JPEGs or a mark.
// IMAGEMAKER_FUZZ_SEED and IMAGEMAKER_FUZZ_STEPS choose the run.

#include "window_fixture.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <deque>
#include <thread>

namespace {

struct Key {
    int key = 0;
    Qt::KeyboardModifiers modifiers;
    QString text;
    bool person = true; // pressed by a person, not sent by a scanner or a key's repeat
    qint64 gapMs = 0; // after the key before, in the keys' own time
    bool repeat = false;
    bool holdRelease = false; // no release: the key is held
};

Key digitKey(QChar digit, bool person, qint64 gap)
{
    return { Qt::Key_0 + digit.digitValue(), Qt::NoModifier, QString(digit), person, gap };
}

// Not a key: the window manager's close of the main window.
constexpr int WindowManagerClose = -1;

Key alt(int letter)
{
    return { letter, Qt::AltModifier, QString(), true, 0 };
}

// No key: time passing, on the keys' clock and the real one.
Key pause(qint64 ms)
{
    return { 0, Qt::NoModifier, QString(), true, ms };
}

} // namespace

class TestKeystrokeFuzz : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;
    std::unique_ptr<StillWatch> watched;
    std::unique_ptr<MessageBoxPrompts> boxes;
    std::unique_ptr<Form_ImageMaker> window;
    QRandomGenerator random;
    quint32 seed = 0;
    QElapsedTimer clock;

    std::deque<Key> queue;
    qint64 keyTime = 1; // the keys' time stamps, ahead of the clock where a person is slow
    qint64 idleUntil = 0;
    Key last;
    qint64 delivered = 0;
    QHash<qint64, Key> sentAt;
    QString personDigits;
    QSet<QString> whole, offered;
    // The samples of each take's stills, in order, and the history of every window so far.
    QList<QStringList> takeStills;
    QStringList histories, deleted;
    QString failure;
    int steps = 0, stepsWanted = 0, stills = 0, confirmed = 0, ends = 0, probes = 0;
    bool endAllowed = false;
    QString probe;

    void fail(const QString& what)
    {
        if (!failure.isEmpty())
            return;
        QWidget* modal = QApplication::activeModalWidget();
        failure = QStringLiteral("step %1: %2; armed \"%3\", open \"%4\"; last keys: %5")
                      .arg(steps)
                      .arg(what, window ? window->currentSample() : QString("no window"),
                          modal ? modal->windowTitle() : QString(), recent.join(' '));
    }
    QStringList recent;

    // Where the platform sends a key: into the open box or dialog, if any.
    QWidget* target() const
    {
        if (QWidget* modal = QApplication::activeModalWidget())
            return modal->focusWidget() ? modal->focusWidget() : modal;
        if (QWidget* focus = QApplication::focusWidget())
            return focus;
        return window.get();
    }

    // As the platform does it: a shortcut first, then the key to the focus.
    void deliver(const Key& key)
    {
        last = key;
        recent << QStringLiteral("%1%2%3+%4")
                      .arg(key.person ? "" : "s:", key.modifiers ? "alt+" : "",
                          key.text.isEmpty() || key.text.at(0) < ' ' ? QKeySequence(key.key).toString()
                                                                     : key.text)
                      .arg(key.gapMs);
        if (recent.size() > 40)
            recent.removeFirst();
        ++delivered;
        keyTime += key.gapMs;
        keyTime = std::max(keyTime, clock.elapsed());
        sentAt.insert(keyTime, key);
        if (key.key == WindowManagerClose) {
            endAllowed = true;
            if (window)
                window->close();
            return;
        }
        QWidget* to = target();
        if (!to)
            return;
        if (!qt_sendShortcutOverrideEvent(to, ulong(keyTime), key.key, key.modifiers, key.text, key.repeat)) {
            QKeyEvent press(QEvent::KeyPress, key.key, key.modifiers, key.text, key.repeat);
            press.setTimestamp(quint64(keyTime));
            QApplication::sendEvent(to, &press);
        }
        if (key.holdRelease)
            return;
        if (QWidget* now = target()) {
            QKeyEvent release(QEvent::KeyRelease, key.key, key.modifiers, key.text, key.repeat);
            release.setTimestamp(quint64(keyTime));
            QApplication::sendEvent(now, &release);
        }
    }

    // Every button a key can press, and every question's number.
    bool eventFilter(QObject* watchedObject, QEvent* event) override
    {
        // The key a click comes from, the program's replays of kept keys included.
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            const auto stamp = qint64(static_cast<QKeyEvent*>(event)->timestamp());
            if (const auto sent = sentAt.constFind(stamp); sent != sentAt.cend())
                last = *sent;
        }
        if (event->type() == QEvent::Show && watchedObject->isWidgetType()
            && static_cast<QWidget*>(watchedObject)->isWindow()) {
            auto* shown = static_cast<QWidget*>(watchedObject);
            shown->setProperty("fuzzShownAt", delivered);
            for (QAbstractButton* button : shown->findChildren<QAbstractButton*>()) {
                if (button->property("fuzzWatched").toBool())
                    continue;
                button->setProperty("fuzzWatched", true);
                connect(button, &QAbstractButton::clicked, this, [this, button] { clicked(button); });
            }
        }
        return false;
    }

    void clicked(QAbstractButton* button)
    {
        QWidget* top = button->window();
        const QString name = button->objectName();
        if (auto* box = qobject_cast<QMessageBox*>(top)) {
            if (box->buttonRole(button) != QMessageBox::YesRole)
                return;
            if (!last.person || last.repeat)
                fail("a scanner's key or a repeat answered Yes to \"" + box->text() + '"');
            else if (delivered <= top->property("fuzzShownAt").toLongLong())
                fail("Yes to \"" + box->text() + "\" by a key sent before it was on screen");
            const QRegularExpressionMatch next = QRegularExpression("\\((\\d{8})\\)").match(box->text());
            if (next.hasMatch())
                offered.insert(next.captured(1));
            if (box->windowTitle() == "Take picture")
                ++confirmed;
            return;
        }
        if (name == "cmd_Delete")
            deleted << window->findChild<QLabel*>("lbl_Pictures")->text();
        if (name == "cmd_Close" || name == "cmd_Exit") {
            if (!last.person)
                fail(name + " pressed by a scanner's key");
            endAllowed = true;
        }
        if (name == "cmd_capture" || name == "cmd_Redo") {
            if (!last.person)
                fail(name + " pressed by a scanner's key");
            ++confirmed;
        }
    }

    void saving(const QString& path)
    {
        ++stills;
        const QString sample = QRegularExpression("_(\\d{8})_").match(path).captured(1);
        if (takeStills.isEmpty())
            return fail("a still outside a take");
        takeStills.last() << sample;
        deleted.removeAll(sample);
        if (!whole.contains(sample) && !offered.contains(sample))
            fail("a still taken under " + sample + ", never sent whole nor offered");
        // Two stills a capture; each capture was confirmed once.
        if ((stills + 1) / 2 > confirmed)
            fail(QStringLiteral("%1 stills, but only %2 confirmations").arg(stills).arg(confirmed));
    }

    QString digits(int length)
    {
        QString text;
        for (int i = 0; i < length; ++i)
            text += QChar('0' + int(random.bounded(10)));
        return text;
    }

    void scan(const QString& number, int suffix, bool prefix)
    {
        if (number.size() == SampleNumberLength)
            whole.insert(number);
        personDigits.clear();
        QString sent = number;
        if (prefix)
            sent.prepend(random.bounded(2) ? "]C1" : "]E0");
        const auto gap = [this] { return qint64(random.bounded(0, 9)); };
        bool first = true;
        for (const QChar c : sent) {
            const qint64 at = first ? 400 : gap();
            first = false;
            if (c.isDigit())
                queue.push_back(digitKey(c, false, at));
            else
                queue.push_back({ c == ']' ? int(Qt::Key_BracketRight) : Qt::Key_A + (c.unicode() - 'A'),
                    Qt::NoModifier, QString(c), false, at });
        }
        const Key enter { Qt::Key_Return, Qt::NoModifier, "\r", false, gap() };
        switch (suffix) {
        case 0:
            queue.push_back(enter);
            break;
        case 1: // CR+LF
            queue.push_back(enter);
            queue.push_back({ Qt::Key_Return, Qt::NoModifier, "\r", false, qint64(random.bounded(10, 100)) });
            break;
        case 2:
            queue.push_back({ Qt::Key_Tab, Qt::NoModifier, "\t", false, gap() });
            break;
        default: // no suffix: a pause ends it
            queue.push_back(pause(ScanDetector::PauseMs + 80));
            break;
        }
    }

    void typed(Key key)
    {
        key.gapMs = random.bounded(250, 900);
        if (key.key >= Qt::Key_0 && key.key <= Qt::Key_9 && key.modifiers == Qt::NoModifier) {
            personDigits += key.text;
            if (personDigits.size() >= SampleNumberLength)
                whole.insert(personDigits.right(SampleNumberLength));
        } else if (key.key != Qt::Key_Return) {
            personDigits.clear();
        }
        queue.push_back(key);
    }

    void step()
    {
        const Key enter { Qt::Key_Return, Qt::NoModifier, "\r" };
        switch (random.bounded(16)) {
        case 0:
        case 1:
        case 2:
        case 3:
            scan(digits(SampleNumberLength), int(random.bounded(4)), random.bounded(4) == 0);
            break;
        case 4:
            scan(digits(int(random.bounded(1, SampleNumberLength))), int(random.bounded(4)), false);
            break;
        case 5:
            scan(digits(int(random.bounded(SampleNumberLength + 1, 14))), int(random.bounded(4)), false);
            break;
        case 6: {
            // Back to back: the second's first key as soon as the first's last.
            scan(digits(SampleNumberLength), 0, false);
            scan(digits(SampleNumberLength), 0, false);
            queue[queue.size() - SampleNumberLength - 1].gapMs = random.bounded(0, 11);
            break;
        }
        case 7:
            typed(digitKey(QChar('0' + int(random.bounded(10))), true, 0));
            break;
        case 8:
        case 9:
            typed(enter);
            break;
        case 10: {
            const Key keys[]
                = { { Qt::Key_Space, {}, " " }, { Qt::Key_Tab, {}, "\t" }, { Qt::Key_Escape, {}, "\x1b" } };
            typed(keys[random.bounded(3)]);
            break;
        }
        case 11: {
            // Close and Exit now and then only: each ends the window.
            const int letters[]
                = { Qt::Key_Y, Qt::Key_N, Qt::Key_G, Qt::Key_O, Qt::Key_R, Qt::Key_D, Qt::Key_C, Qt::Key_X };
            typed(alt(letters[random.bounded(random.bounded(15) == 0 ? 8 : 6)]));
            // A mnemonic clicks a moment later.
            queue.push_back(pause(150));
            break;
        }
        case 12: {
            // A held Enter, Space or Tab: the first press, then repeats.
            const Key held[] = { enter, { Qt::Key_Space, {}, " " }, { Qt::Key_Tab, {}, "\t" } };
            Key key = held[random.bounded(3)];
            key.holdRelease = true;
            typed(key);
            for (int i = 0; i < 4; ++i) {
                Key again = key;
                again.person = false;
                again.repeat = true;
                again.gapMs = 33;
                queue.push_back(again);
            }
            key.holdRelease = false;
            key.person = false;
            key.repeat = true;
            key.gapMs = 33;
            queue.push_back(key);
            break;
        }
        case 13: {
            // A whole number typed by a person, then Enter.
            const QString number = digits(SampleNumberLength);
            for (const QChar c : number)
                typed(digitKey(c, true, 0));
            typed(enter);
            break;
        }
        case 14:
            if (random.bounded(2)) {
                // A slow share: what is written meanwhile waits.
                f->shareWorker.submit(
                    [ms = random.bounded(100, 1500)] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                    },
                    [](std::exception_ptr) {});
            } else {
                // A slow camera: it sends nothing for a while.
                const int camera = int(random.bounded(2));
                camera_socket::stall(camera, true);
                QTimer::singleShot(
                    int(random.bounded(100, 1500)), [camera] { camera_socket::stall(camera, false); });
            }
            // Now and then the window manager's close, maybe in the middle of a take.
            if (random.bounded(20) == 0)
                queue.push_back({ WindowManagerClose, Qt::NoModifier, QString(), true, 100 });
            break;
        default:
            queue.push_back(pause(random.bounded(10, 150)));
            break;
        }
    }

    // One whole scan: the number is armed and its question asked; then No.
    void probeStuck()
    {
        ++probes;
        do
            probe = digits(SampleNumberLength);
        while (whole.contains(probe));
        scan(probe, 0, false);
    }
    bool probeAnswered()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->windowTitle() != "Take picture" || !window || window->currentSample() != probe)
            return false;
        probe.clear();
        typed(alt(Qt::Key_N));
        queue.push_back(pause(150));
        return true;
    }

    void openWindow()
    {
        window = std::make_unique<Form_ImageMaker>(CaptureWindowServices { *watched, f->store, *boxes,
            f->scanCollector, [] { return QDateTime::currentDateTime(); }, {}, f->conversionRetryDelays });
        window->show();
        window->activateWindow();
        endAllowed = false;
    }

    // Once a tick, outside any key's handling: a key handed on from here
    // may open a box whose loop then runs the next ticks.
    void tick()
    {
        if (!failure.isEmpty() || finished()) {
            // Unwinds every open box's loop, so the test can end.
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->hide();
            return;
        }
        if (clock.elapsed() < idleUntil)
            return;
        if (window && !window->isVisible() && !QApplication::activeModalWidget()) {
            if (!endAllowed)
                return fail("the window ended without Close or Exit");
            ++ends;
            histories << window->capturedSamples();
            window.release()->deleteLater();
            queue.clear();
            // A scan kept for after a take goes with a window closed meanwhile.
            probe.clear();
            openWindow();
            idleUntil = clock.elapsed() + 300;
            return;
        }
        if (!queue.empty()) {
            const Key key = queue.front();
            queue.pop_front();
            if (key.key == 0) { // a wait
                keyTime += key.gapMs;
                idleUntil = clock.elapsed() + key.gapMs;
                return;
            }
            QMetaObject::invokeMethod(
                this, [this, key] { deliver(key); }, Qt::QueuedConnection);
            return;
        }
        if (!probe.isEmpty()) {
            if (probeAnswered())
                return;
            if (clock.elapsed() > probeDeadline)
                return fail("stuck: the scan of " + probe + " was not asked about");
            return;
        }
        if (steps >= stepsWanted)
            return;
        if (++steps % 40 == 0) {
            probeStuck();
            // Past the share's bound: a capture it holds up may be on.
            probeDeadline = clock.elapsed() + 15000;
            return;
        }
        step();
    }
    qint64 probeDeadline = 0;

    // Once the keys are over: every take as the share, the converters and
    // the history tell it.
    void verifyTakesAcrossLayers()
    {
        // The last take, and its converters, come to an end; what it asks
        // then goes unanswered.
        QTimer closeBoxes;
        connect(&closeBoxes, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->hide();
        });
        closeBoxes.start(50);
        QVERIFY(QTest::qWaitFor(
            [this] { return (!window || !window->flow().busy()) && !QApplication::activeModalWidget(); },
            20000));
        closeBoxes.stop();
        const QString context = QStringLiteral("seed %1").arg(seed);
        // A take's stills name one sample; one that failed may have fewer than two.
        QStringList takes;
        for (const QStringList& stills : takeStills) {
            QVERIFY2(stills.size() <= 2, qPrintable(context + ": a take with more than two stills"));
            if (stills.isEmpty())
                continue;
            QVERIFY2(stills.count(stills.first()) == stills.size(),
                qPrintable(context + ": one take's stills name " + stills.join(" and ")));
            takes << stills.first();
        }
        // Converters come in pairs, bottom then colour, each naming one
        // sample; every take with a still launched its pair.
        const QStringList& commands = f->launcher.commands;
        QVERIFY2(commands.size() % 2 == 0, qPrintable(context + ": a converter without its pair"));
        QStringList converted;
        for (qsizetype i = 0; i < commands.size(); i += 2) {
            const QString sample = QRegularExpression("BTM_(\\d{8})_01\\.bmp").match(commands[i]).captured(1);
            QVERIFY2(!sample.isEmpty() && commands[i].count("BTM_" + sample + "_01.") == 2
                    && commands[i + 1].count("CLR_" + sample + "_01.") == 2,
                qPrintable(context + ": " + commands[i] + " / " + commands[i + 1]));
            converted << sample;
        }
        const auto inOrder = [](const QStringList& some, const QStringList& all) {
            qsizetype at = 0;
            for (const QString& one : some) {
                while (at < all.size() && all[at] != one)
                    ++at;
                if (at++ >= all.size())
                    return false;
            }
            return true;
        };
        if (!inOrder(takes, converted))
            qWarning("takes %s\nconverted %s", qPrintable(takes.join(',')), qPrintable(converted.join(',')));
        QVERIFY2(inOrder(takes, converted),
            qPrintable(context + ": a take without its converters: " + takes.join(",") + " / "
                + converted.join(",")));
        // The history holds takes, in order; the others failed.
        QStringList history = histories;
        if (window)
            history << window->capturedSamples();
        QVERIFY2(inOrder(history, takes), qPrintable(context + ": a history line without its take"));
        // The current window's samples end with both JPEGs or a marked line.
        if (!window)
            return;
        auto* list = window->findChild<QListWidget*>("lst_Captured");
        const QStringList& samples = window->capturedSamples();
        for (qsizetype i = 0; i < samples.size(); ++i) {
            if (deleted.contains(samples[i]))
                continue;
            int latest = int(samples.lastIndexOf(samples[i]));
            const auto whole = [&] {
                return (QFileInfo::exists(f->sampleFile("CLR_" + samples[i] + "_01.jpg"))
                           && QFileInfo::exists(f->sampleFile("BTM_" + samples[i] + "_01.jpg")))
                    || !list->item(latest)->toolTip().isEmpty();
            };
            QVERIFY2(QTest::qWaitFor(whole, 20000),
                qPrintable(context + ": " + samples[i] + " has no JPEG nor mark"));
        }
    }
    bool finished() const { return steps >= stepsWanted && queue.empty() && probe.isEmpty(); }

private slots:
    void init()
    {
        f = std::make_unique<WindowFixture>();
        watched = std::make_unique<StillWatch>(f->camera, [this](const QString& path) { saving(path); });
        watched->beginning = [this] { takeStills.append(QStringList()); };
        boxes = std::make_unique<MessageBoxPrompts>(f->scanCollector);
        seed = qEnvironmentVariableIsSet("IMAGEMAKER_FUZZ_SEED")
            ? quint32(qEnvironmentVariableIntValue("IMAGEMAKER_FUZZ_SEED"))
            : 1;
        stepsWanted = qEnvironmentVariableIsSet("IMAGEMAKER_FUZZ_STEPS")
            ? qEnvironmentVariableIntValue("IMAGEMAKER_FUZZ_STEPS")
            : 2000;
        random.seed(seed);
        qApp->installEventFilter(this);
        clock.start();
    }
    void cleanup()
    {
        qApp->removeEventFilter(this);
        while (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        window.reset();
        f.reset();
    }

    void randomKeys_takeNoPictureUnasked_neverEndNorStick()
    {
        openWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTimer driver;
        driver.setInterval(1);
        connect(&driver, &QTimer::timeout, this, [this] { tick(); });
        driver.start();
        const auto done = [this] { return !failure.isEmpty() || finished(); };
        QVERIFY2(QTest::qWaitFor(done, 580000),
            qPrintable(QString("seed %1: only %2 steps").arg(seed).arg(steps)));
        driver.stop();
        QVERIFY2(failure.isEmpty(), qPrintable(QString("seed %1, %2").arg(seed).arg(failure)));
        verifyTakesAcrossLayers();
        qInfo("seed %u: %d steps, %lld keys, %d stills after %d confirmations, %d stuck checks, %d ends by "
              "Close or "
              "Exit",
            seed, steps, delivered, stills, confirmed, probes, ends);
    }
};

QTEST_MAIN(TestKeystrokeFuzz)
#include "test_keystroke_fuzz.moc"
