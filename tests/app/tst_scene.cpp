// The real scene with the real controller: fails on any qrc:/qml warning at load or after clicks.

#include "app/ComputerKeyboard.h"
#include "app/SceneGraphChoice.h"
#include "app/WorkstationController.h"
#include "support/SfzFixtures.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

QStringList g_sceneWarnings;
QtMessageHandler g_previousHandler = nullptr;

// Messages about the scene name a file under qrc:/qml; others (Qt Multimedia's) do not count.
void collectSceneWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool fromScene =
        message.contains(QLatin1String("qrc:/qml/")) ||
        QString::fromUtf8(context.file ? context.file : "").startsWith(QLatin1String("qrc:/qml/"));
    if (type != QtDebugMsg && type != QtInfoMsg && fromScene) g_sceneWarnings << message;
    if (g_previousHandler) g_previousHandler(type, context, message);
}

} // namespace

class SceneTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        g_previousHandler = qInstallMessageHandler(collectSceneWarnings);
        QQuickStyle::setStyle(u"Basic"_s);
        m_controller = std::make_unique<WorkstationController>();
        m_controller->initialize();
        m_computerKeys = std::make_unique<ComputerKeyboard>(*m_controller);
        qApp->installEventFilter(m_computerKeys.get());
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->rootContext()->setContextProperty(u"workstation"_s, m_controller.get());
        m_engine->load(QUrl(u"qrc:/qml/Main.qml"_s));
        QVERIFY(!m_engine->rootObjects().isEmpty());
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        QVERIFY(m_window);
        QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
        QVERIFY(frames.wait(10000));
    }

    // Errors raised by clicks count as much as those at load.
    void cleanup() {
        const QStringList warnings = std::exchange(g_sceneWarnings, {});
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void cleanupTestCase() {
        m_engine.reset();
        m_computerKeys.reset();
        m_controller.reset();
        qInstallMessageHandler(g_previousHandler);
    }

    // Every view at the normal and the smallest window size, the hymn view in the slot of
    // its mode whatever the rail's order. No text of the top bar, PLAY, SOUNDS, ZONES,
    // CONSOLE or SYSTEM is cut or runs out of its panel (a long text elides and shows
    // itself on hover), and every control of PLAY lies within the part of its page that
    // scrolls. The status line shows the banner.
    void everyViewWholeAndReachable() {
        for (const QSize size : {QSize(1180, 740), QSize(1480, 920)}) {
            m_window->resize(size);
            for (int mode : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
                m_controller->setCurrentMode(mode);
                QTest::qWait(60);
                QQuickItem* view = item(u"view_%1"_s.arg(mode));
                QVERIFY2(view, qPrintable(u"no view in slot %1"_s.arg(mode)));
                QTRY_VERIFY(view->isVisible());
                const QString where = u"%1 px, mode %2: "_s.arg(size.width()).arg(mode);
                if (QList<int>{0, 1, 2, 5, 7}.contains(mode)) QCOMPARE(where + cutTexts(), where);
            }
            // The top bar's groups lie side by side inside it, none over another.
            QQuickItem* row = item(u"micTuneControls"_s)->parentItem();
            qreal right = 0;
            for (QQuickItem* group : row->childItems()) {
                if (!group->isVisible()) continue;
                QVERIFY2(group->x() >= right - 0.5 && group->x() + group->width() <= row->width() + 0.5,
                         qPrintable(
                             u"%1 at %2 in %3"_s.arg(group->objectName()).arg(group->x()).arg(size.width())));
                right = group->x() + group->width();
            }
            auto* page = item(u"playScroll"_s)->property("contentItem").value<QQuickItem*>();
            auto* content = page->property("contentItem").value<QQuickItem*>();
            const QRectF reachable(0, 0, page->width(), page->property("contentHeight").toReal());
            QList<QQuickItem*> controls;
            collectControls(content, controls);
            QVERIFY2(controls.size() >= 28, qPrintable(QString::number(controls.size())));
            for (QQuickItem* control : controls) {
                const QRectF where = control->mapRectToItem(content, control->boundingRect());
                QVERIFY2(reachable.adjusted(-0.5, -0.5, 0.5, 0.5).contains(where),
                         control->metaObject()->className());
            }
        }
        m_controller->setCurrentMode(8);
        QCOMPARE(item(u"viewStack"_s)->property("currentIndex").toInt(), 8);
        QTRY_VERIFY(item(u"view_8"_s)->isVisible() && !item(u"view_0"_s)->isVisible());
        m_controller->setCurrentMode(0);
        m_controller->playTestTone();
        QTRY_COMPARE(item(u"statusBanner"_s)->property("text").toString(),
                     u"Playing Stereo Piano Chord Test Tone..."_s);
    }

    // F11 toggles full screen (the rail hides); Escape leaves it and otherwise does nothing.
    void f11AndEscapeToggleFullScreen() {
        QQuickItem* rail = item(u"leftNavRail"_s);
        QVERIFY(rail && rail->isVisible());
        for (const auto key : {Qt::Key_F11, Qt::Key_Escape, Qt::Key_Escape, Qt::Key_F11, Qt::Key_F11}) {
            const bool expected = key == Qt::Key_F11 && !m_controller->fullScreenPerformance();
            QTest::keyClick(m_window, key);
            QTRY_COMPARE(m_controller->fullScreenPerformance(), expected);
            QTRY_COMPARE(rail->isVisible(), !expected);
        }
    }

    // PRESETS lists the imported style files (the samples of the first start) with
    // the library's status; a remove button takes its style away. DRUMS names the
    // flash disk, here none.
    void styleFileDirectoryShowsTheLibrary() {
        m_controller->setCurrentMode(9);
        QTRY_VERIFY(item(u"view_9"_s)->isVisible());
        QCOMPARE(item(u"styStatus"_s)->property("text").toString(), m_controller->styStatusText());
        const int before = m_controller->userStyCount();
        QVERIFY(before > 0);
        // The panel may lie scrolled away: the button's own signal, not a click.
        QVERIFY(QMetaObject::invokeMethod(item(u"removeSty_%1"_s.arg(m_controller->beatStyles().size() - 1)),
                                          "clicked"));
        QTRY_COMPARE(m_controller->userStyCount(), before - 1);
        m_controller->setCurrentMode(3);
        QTRY_COMPARE(item(u"flashDiskPath"_s)->property("text").toString(), u"No flash disk found"_s);
        m_controller->setCurrentMode(0);
    }

    // SYSTEM counts the catalogue after an import, and its boxes show and keep a
    // running rate and buffer they do not list.
    void systemShowsTheCatalogueAndTheRunningFormat() {
        m_controller->setCurrentMode(7);
        QTRY_VERIFY(item(u"view_7"_s)->isVisible());
        const int count = m_controller->queryPresets(QString(), QString(), false).size();
        const QString counted = u"Instruments in the catalogue: %1"_s;
        QCOMPARE(item(u"instrumentCount"_s)->property("text").toString(), counted.arg(count));
        QTemporaryDir folder;
        QVERIFY(test::writeTestFile(folder.filePath(u"Chapel Organ.sfz"_s), "<region> sample=organ.wav\n"));
        QVERIFY(m_controller->importInstrumentLibrary(folder.filePath(u"Chapel Organ.sfz"_s)));
        QCOMPARE(item(u"instrumentCount"_s)->property("text").toString(), counted.arg(count + 1));

        // The running format -> what the boxes show and how many entries each lists.
        const std::tuple<int, int, const char*> formats[] = {{44100, 100, "44100 Hz 3|100 frames 6"},
                                                             {96000, 64, "96000 Hz 3|64 frames 5"},
                                                             {48000, 1000, "48000 Hz 3|1000 frames 6"}};
        const auto box = [this](const QString& name) {
            return item(name)->property("currentText").toString() + u' ' +
                   item(name)->property("count").toString();
        };
        for (const auto& [rate, frames, shown] : formats) {
            m_controller->audioEngine().prepareOffline(rate, frames);
            Q_EMIT m_controller->audioSettingsChanged();
            QCOMPARE(box(u"rateBox"_s) + u'|' + box(u"bufferBox"_s), QLatin1String(shown));
            click(item(u"applyAudioButton"_s)); // restarts with what the boxes show (no device opens here)
            QCOMPARE(QList<int>({m_controller->audioSampleRate(), m_controller->audioBufferFrames()}),
                     QList<int>({rate, frames}));
        }
        m_controller->setCurrentMode(0);
    }

    // Software OpenGL is all there is without a render node; a user's own choice stands.
    void softwareRendererWhereOpenGLCanOnlyBeSoftware() {
        // Files in the render-node folder ("-": no folder), an environment setting, software chosen.
        const std::tuple<const char*, const char*, bool> rows[] = {
            {"card0", "", true},
            {"-", "", true},
            {"card0 renderD128", "", false},
            {"renderD128", "LIBGL_ALWAYS_SOFTWARE=1", true},
            {"renderD128", "LIBGL_ALWAYS_SOFTWARE=0", false},
            {"", "QT_QUICK_BACKEND=opengl", false},
            {"", "QSG_RHI_BACKEND=opengl", false}};
        for (const auto& [nodes, setting, software] : rows) {
            QTemporaryDir dir;
            for (const QString& node : QString::fromLatin1(nodes).split(u' ', Qt::SkipEmptyParts))
                QVERIFY(node == u"-"_s || test::writeTestFile(dir.filePath(node), {}));
            const QByteArray name = QByteArray(setting).split('=').value(0);
            if (!name.isEmpty()) qputenv(name, QByteArray(setting).split('=').value(1));
            const bool chosen =
                preferSoftwareSceneGraph(qstrcmp(nodes, "-") == 0 ? dir.filePath(u"missing"_s) : dir.path());
            if (!name.isEmpty()) qunsetenv(name);
            QVERIFY2(chosen == software, setting);
        }
    }

    // Each drawer in turn (the phone's opened by the top bar's MIC button), the ribbon
    // and the camera show whole at both sizes. The camera docks only in the large
    // window: in the small one it floats whatever was chosen, without a dock button.
    void drawersAndCameraShowWhole() {
        m_controller->setWatermarkEnabled(true);
        m_controller->setCameraEnabled(true);
        for (const QSize size : {QSize(1180, 740), QSize(1480, 920)}) {
            m_window->resize(size);
            click(item(u"micButton"_s));
            QTRY_VERIFY(m_controller->phoneDrawerOpen() && item(u"phoneDrawer"_s)->isVisible());
            QCOMPARE(cutTexts(), QString());
            click(item(u"phoneButton"_s));
            QTRY_VERIFY(!m_controller->phoneDrawerOpen() && !item(u"phoneDrawer"_s)->isVisible());
            m_controller->setBroadcastDrawerOpen(true);
            for (const bool floating : {false, true}) {
                m_window->setProperty("cameraFloating", floating);
                const bool docked = !floating && size.width() >= 1480;
                QTRY_VERIFY(item(u"cameraPip"_s)->isVisible() != docked &&
                            item(u"cameraBay"_s)->isVisible() == docked);
                QCOMPARE(item(u"pipDockButton"_s)->isVisible(), !docked && size.width() >= 1480);
                QCOMPARE(cutTexts(), QString());
            }
            m_controller->setBroadcastDrawerOpen(false);
        }
        m_window->setProperty("cameraFloating", false);
        m_controller->setCameraEnabled(false);
        m_controller->setWatermarkEnabled(false);
    }

private:
    // The texts cut or out of their panel once the layouts settled, which takes a few
    // frames longer on a slow machine: read again until none is cut or 2 s have passed.
    QString cutTexts() {
        QTest::qWait(100);
        for (QDeadlineTimer settled(2000);; QTest::qWait(50)) {
            QStringList cut;
            collectCutTexts(m_window->contentItem(), nullptr, cut);
            if (cut.isEmpty() || settled.hasExpired()) return cut.join(u" | "_s);
        }
    }
    static bool isA(const QQuickItem* item, const char* qmlType) {
        return QString::fromLatin1(item->metaObject()->className()).startsWith(QLatin1String(qmlType));
    }
    // Visible texts cut without showing themselves on hover, or running out of their panel.
    static void collectCutTexts(QQuickItem* parent, QQuickItem* panel, QStringList& cut) {
        for (QQuickItem* child : parent->childItems()) {
            if (!child->isVisible() || child->opacity() <= 0.0) continue;
            if (child->inherits("QQuickText") && !child->property("text").toString().isEmpty()) {
                const QString text = child->property("text").toString();
                if (child->property("truncated").toBool() && !isA(child, "ElidedText")) cut << text;
                const QRectF painted = child->mapRectToScene(child->boundingRect());
                if (panel &&
                    !panel->mapRectToScene(panel->boundingRect()).adjusted(-1, -1, 1, 1).contains(painted))
                    cut << text + u" (outside its panel)"_s;
            }
            // Within a clipping list or page, what lies outside is scrolled away, not cut.
            collectCutTexts(child, isA(child, "Panel_") ? child : child->clip() ? nullptr : panel, cut);
        }
    }
    static void collectControls(QQuickItem* parent, QList<QQuickItem*>& controls) {
        for (QQuickItem* child : parent->childItems()) {
            if (!child->isVisible()) continue;
            if (child->inherits("QQuickAbstractButton") || child->inherits("QQuickSpinBox") ||
                child->inherits("QQuickMouseArea") || isA(child, "RotaryKnob")) {
                controls << child;
                continue;
            }
            collectControls(child, controls);
        }
    }

    void click(QQuickItem* target) {
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, {}, centre.toPoint());
    }

    std::unique_ptr<WorkstationController> m_controller;
    std::unique_ptr<ComputerKeyboard> m_computerKeys;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;

    // By the visual tree, which also holds the rows of lists; the first visible one.
    QQuickItem* item(const QString& name) const { return visualChild(m_window->contentItem(), name); }
    static QQuickItem* visualChild(QQuickItem* parent, const QString& name) {
        for (QQuickItem* child : parent->childItems()) {
            if (child->objectName() == name) return child;
            if (QQuickItem* found = visualChild(child, name)) return found;
        }
        return nullptr;
    }
};

int main(int argc, char* argv[]) {
    test::usePrivateHome();
    QApplication app(argc, argv);
    SceneTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scene.moc"
