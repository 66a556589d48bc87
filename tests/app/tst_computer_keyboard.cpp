// The computer keys through the key filter: one note per hold whatever auto-repeat sends.

#include "app/ComputerKeyboard.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QQuickWindow>
#include <QSet>
#include <QTest>

#include <memory>

using namespace tmb;
using namespace Qt::StringLiterals;

class ComputerKeyboardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        test::usePrivateHome();
        m_controller = std::make_unique<WorkstationController>();
        m_keys = std::make_unique<ComputerKeyboard>(*m_controller);
        qApp->installEventFilter(m_keys.get());
        // Each key lighting and going dark (its released voice reports it once more).
        connect(m_controller.get(), &WorkstationController::keyStateUpdated, this,
                [this](int note, bool pressed, int velocity) {
                    if (pressed) {
                        m_log << u"on %1 %2"_s.arg(note).arg(velocity);
                        m_lit.insert(note);
                    } else if (m_lit.remove(note)) {
                        m_log << u"off %1"_s.arg(note);
                    }
                });
        connect(m_controller.get(), &WorkstationController::pedalStateChanged, this,
                [this] { m_log << u"sustain %1"_s.arg(m_controller->sustainPedal()); });
    }
    void cleanup() {
        m_keys->releaseAll();
        m_log.clear();
    }
    void cleanupTestCase() {
        m_keys.reset();
        m_controller.reset();
    }

    // Events: P press, p flagged repeat press, R release, r flagged repeat release,
    // _ a pause longer than the grace time; then the log once everything settled.
    void heldKeysSoundOnce_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("expected");
        const QString once = u"on 48 106|off 48"_s;
        QTest::newRow("tap") << int(Qt::Key_Z) << u"P R"_s << once;
        QTest::newRow("x11 flagged pairs") << int(Qt::Key_Z) << u"P r p r p r p r p R"_s << once;
        QTest::newRow("x11 pairs the platform did not flag")
            << int(Qt::Key_Z) << u"P R P R P r p R"_s << once;
        QTest::newRow("wayland flagged presses") << int(Qt::Key_Z) << u"P p p p p p R"_s << once;
        QTest::newRow("presses without releases") << int(Qt::Key_Z) << u"P P P R"_s << once;
        QTest::newRow("a real second strike") << int(Qt::Key_Z) << u"P R _ P R"_s << once + u"|"_s + once;
        QTest::newRow("repeat of a key never seen down") << int(Qt::Key_Z) << u"p p r"_s << QString();
        QTest::newRow("shifted digit on its own key") << int(Qt::Key_At) << u"P R"_s << u"on 61 106|off 61"_s;
        QTest::newRow("top key") << int(Qt::Key_I) << u"P p R"_s << u"on 72 106|off 72"_s;
        QTest::newRow("space holds the pedal")
            << int(Qt::Key_Space) << u"P r p R P p p R"_s << u"sustain 1|sustain 0"_s;
        QTest::newRow("not a musical key") << int(Qt::Key_L) << u"P R"_s << QString();
    }
    void heldKeysSoundOnce() {
        QFETCH(int, key);
        QFETCH(QString, events);
        QFETCH(QString, expected);
        QQuickWindow window;
        for (const QString& event : events.split(u' ')) {
            if (event == u"_"_s) {
                QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
                continue;
            }
            const bool press = event.toUpper() == u"P"_s;
            QKeyEvent keyEvent(press ? QEvent::KeyPress : QEvent::KeyRelease, key, Qt::NoModifier, QString(),
                               event == event.toLower());
            QCoreApplication::sendEvent(&window, &keyEvent);
        }
        QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
        QCOMPARE(m_log.join(u'|'), expected);
        QVERIFY(!m_controller->isKeyPressed(48) && !m_controller->sustainPedal());
    }

    // The comma and Q both play C4: it sounds until the last of them goes up.
    void keysSharingANoteHoldItTogether() {
        QQuickWindow window;
        send(window, QEvent::KeyPress, Qt::Key_Comma, Qt::ControlModifier);
        send(window, QEvent::KeyPress, Qt::Key_Q);
        send(window, QEvent::KeyRelease, Qt::Key_Comma);
        QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
        QVERIFY(m_controller->isKeyPressed(60));
        send(window, QEvent::KeyRelease, Qt::Key_Q);
        QTRY_VERIFY(!m_controller->isKeyPressed(60));
        QCOMPARE(m_log.join(u'|'), u"on 60 74|on 60 106|off 60"_s);
    }

    // Key-ups after the window lost the focus go elsewhere: everything is let go.
    // Dialog windows (with a parent window) keep their keys.
    void lostFocusLetsGoAndDialogsKeepTheirKeys() {
        QQuickWindow window;
        send(window, QEvent::KeyPress, Qt::Key_E);
        send(window, QEvent::KeyPress, Qt::Key_Space);
        QFocusEvent focusOut(QEvent::FocusOut);
        QCoreApplication::sendEvent(&window, &focusOut);
        QCOMPARE(m_log.join(u'|'), u"on 64 106|sustain 1|off 64|sustain 0"_s);

        QQuickWindow dialog;
        dialog.setTransientParent(&window);
        m_log.clear();
        send(dialog, QEvent::KeyPress, Qt::Key_E);
        send(dialog, QEvent::KeyRelease, Qt::Key_E);
        QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
        QVERIFY(m_log.isEmpty());
    }

private:
    static void send(QWindow& window, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = {}) {
        QKeyEvent event(type, key, modifiers);
        QCoreApplication::sendEvent(&window, &event);
    }

    std::unique_ptr<WorkstationController> m_controller;
    std::unique_ptr<ComputerKeyboard> m_keys;
    QStringList m_log;
    QSet<int> m_lit;
};

QTEST_MAIN(ComputerKeyboardTest)
#include "tst_computer_keyboard.moc"
