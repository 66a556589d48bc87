// The LV2 host on Debian's plug-ins in a private LV2_PATH: scans, eg-fifths, races.

#include "EngineTestSupport.h"
#include "audio/AudioEngine.h"
#include "engines/Lv2HostEngine.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <lv2/atom/util.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <tuple>

using namespace tmb;
using namespace tmb::test;

namespace {

const QString mda = QStringLiteral("http://drobilla.net/plugins/mda/");
const QString fifths = QStringLiteral("http://lv2plug.in/plugins/eg-fifths");

std::unique_ptr<Lv2HostEngine> hostWith(const QStringList& bundles) {
    if (!useLv2Bundles(bundles)) qFatal("LV2 bundles missing: %s", qPrintable(bundles.join(u' ')));
    return std::make_unique<Lv2HostEngine>();
}

struct Block {
    std::vector<float> left = std::vector<float>(4096, 0.0f);
    std::vector<float> right = std::vector<float>(4096, 0.0f);
};

} // namespace

class Lv2HostTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    void scanOrdersCountsAndRefusesWorkerPlugins() {
        auto empty = hostWith({});
        QVERIFY(empty->scanPlugins().isEmpty());
        QString error;
        QVERIFY(!empty->loadPlugin(QStringLiteral("urn:x"), &error));
        QCOMPARE(error, QStringLiteral("LV2 plugin not found: urn:x"));

        auto host = hostWith({QStringLiteral("eg-amp.lv2"), QStringLiteral("eg-fifths.lv2"),
                              QStringLiteral("mda.lv2"), QStringLiteral("drumgizmo.lv2"),
                              QStringLiteral("avldrums.lv2"), QStringLiteral("eg-sampler.lv2")});
        const QList<Lv2PluginInfo> list = host->scanPlugins();
        QVERIFY(list.size() > 30);
        QCOMPARE(list.first().name, QStringLiteral("DrumGizmo"));
        const auto group = [](const Lv2PluginInfo& p) {
            return p.isDrumGizmo ? 0 : p.isInstrument ? 1 : 2;
        };
        for (int i = 1; i < list.size(); ++i)
            TMB_VERIFY(group(list[i - 1]) < group(list[i]) ||
                           (group(list[i - 1]) == group(list[i]) &&
                            list[i - 1].name.compare(list[i].name, Qt::CaseInsensitive) <= 0),
                       list[i].name, "after", list[i - 1].name);
        // Ports (audio in, audio out, atom in) and class as lv2info shows them.
        const std::tuple<QString, int, int, int, QString> described[] = {
            {u"http://drumgizmo.org/lv2"_qs, 0, 16, 1, u"Instrument Plugin"_qs},
            {fifths, 0, 0, 1, u"Plugin"_qs},
            {u"http://lv2plug.in/plugins/eg-amp"_qs, 1, 1, 0, u"Amplifier Plugin"_qs},
            {mda + "EPiano", 0, 2, 1, u"Instrument Plugin"_qs},
            {mda + "Delay", 2, 2, 0, u"Delay Plugin"_qs}};
        for (const auto& [uri, in, out, atomIn, category] : described) {
            const auto found = std::find_if(list.begin(), list.end(), [&](auto& p) { return p.uri == uri; });
            QVERIFY2(found != list.end(), qPrintable(uri));
            TMB_VERIFY(found->audioInPorts == in && found->audioOutPorts == out &&
                           found->midiInPorts == atomIn && found->category == category,
                       uri, found->audioInPorts, found->audioOutPorts, found->midiInPorts, found->category);
        }
        QCOMPARE(host->pluginsAsVariantList().first().toMap().value("audioOutPorts").toInt(), 16);
        // Plug-ins needing a worker are refused, and the one loaded before is gone.
        for (const QString& uri : {u"http://gareus.org/oss/lv2/avldrums#BlackPearl"_qs,
                                   u"http://lv2plug.in/plugins/eg-sampler"_qs}) {
            QVERIFY(host->loadPlugin(mda + "JX10"));
            QVERIFY(!host->loadPlugin(uri, &error));
            QCOMPARE(error, QStringLiteral("Failed to instantiate LV2 plugin: %1").arg(uri));
            QCOMPARE(host->statusMessage(), error);
            QVERIFY(!host->isPluginActive() && host->loadedUri().isEmpty());
        }
    }

    // Loaded before the engine prepares, a plug-in renders the longest block. Bypass drops
    // notes rather than delaying them; unloading silences and clears the meters.
    void playsBypassesAndUnloads() {
        auto host = hostWith({QStringLiteral("mda.lv2")});
        QVERIFY(host->loadPlugin(mda + "EPiano"));
        QCOMPARE(host->statusMessage(), QStringLiteral("Loaded MDA ePiano (2 audio outputs)"));
        host->sendMidiNoteOn(0, 60, 110);
        host->processAudio(Block().left.data(), Block().right.data(), 4096);
        QVERIFY(host->busPeakLevel(0) > 0.01f && host->busPeakLevel(1) > 0.01f &&
                host->busPeakLevel(16) == 0.0f);
        host->sendMidiNoteOff(0, 60);
        for (int i = 0; i < 200; ++i) // let the note fade out completely
            host->processAudio(Block().left.data(), Block().right.data(), 2048);
        host->setBypassed(true);
        host->sendMidiNoteOn(0, 64, 120);
        Block bypassed;
        host->processAudio(bypassed.left.data(), bypassed.right.data(), 512);
        QCOMPARE(peak(bypassed.left), 0.0f);
        host->setBypassed(false);
        host->processAudio(bypassed.left.data(), bypassed.right.data(), 2048);
        TMB_VERIFY(peak(bypassed.left) < 1e-4f, "the bypassed note was delayed:", peak(bypassed.left));

        host->unloadPlugin();
        QCOMPARE(host->statusMessage(), QStringLiteral("Unloaded (Ready)"));
        QCOMPARE(host->busPeakLevel(0), 0.0f);
        host->sendMidiNoteOn(0, 60, 110);
        Block after;
        host->processAudio(after.left.data(), after.right.data(), 1024);
        QCOMPARE(peak(after.left) + peak(after.right), 0.0f);
    }

    // One output sounds on both sides at 0.7; of two, the first goes left and the second
    // right at 0.65; added to what the bus holds, every frame, never past the block.
    void oneOutputOnBothSidesTwoApart() {
        auto host = hostWith({QStringLiteral(TMB_TEST_TONE_BUNDLE)});
        for (const auto& [outputs, frames, velocity] :
             {std::tuple{2, 333u, 80}, {1, 64u, 100}, {1, 4095u, 127}}) {
            QVERIFY(host->loadPlugin(QStringLiteral("urn:tembora:test-tone:") +
                                     (outputs == 1 ? "mono" : "stereo")));
            Block block;
            std::fill(block.left.begin(), block.left.end(), 0.25f);
            std::fill(block.right.begin(), block.right.end(), -0.125f);
            host->sendMidiNoteOn(1, 60, static_cast<std::uint8_t>(velocity));
            host->processAudio(block.left.data(), block.right.data(), frames);
            const float level = velocity / 127.0f, gain = outputs == 1 ? 0.7f : 0.65f;
            const float expected[2] = {0.25f + gain * level,
                                       -0.125f + gain * (outputs == 1 ? level : level / 2)};
            TMB_VERIFY(host->busPeakLevel(0) == level &&
                           host->busPeakLevel(1) == (outputs == 1 ? 0.0f : level / 2),
                       outputs, host->busPeakLevel(0), host->busPeakLevel(1));
            for (std::uint32_t i = 0; i < frames; ++i)
                TMB_VERIFY(std::fabs(block.left[i] - expected[0]) < 1e-6f &&
                               std::fabs(block.right[i] - expected[1]) < 1e-6f,
                           outputs, i, block.left[i], block.right[i]);
            QVERIFY(block.left[frames] == 0.25f && block.right[frames] == -0.125f);
        }
    }

    // Three notes in one block: a sequence of 8 + 3 x 24 bytes, and each note comes
    // back from eg-fifths with its fifth in the output sequence.
    void noteSequenceReachesEgFifths() {
        auto host = hostWith({QStringLiteral("eg-fifths.lv2")});
        QVERIFY(host->loadPlugin(fifths));
        for (int note : {60, 64, 69})
            host->sendMidiNoteOn(3, static_cast<std::uint8_t>(note), 90);
        Block block;
        host->processAudio(block.left.data(), block.right.data(), 256);
        QCOMPARE(host->atomPortBuffer(0)->size, 8u + 72u);
        const auto* out = reinterpret_cast<const LV2_Atom_Sequence*>(host->atomPortBuffer(1));
        QList<int> notes;
        LV2_ATOM_SEQUENCE_FOREACH(out, event) {
            const auto* midi = reinterpret_cast<const std::uint8_t*>(event + 1);
            QCOMPARE(midi[0], std::uint8_t{0x93});
            QCOMPARE(midi[2], std::uint8_t{90});
            notes.append(midi[1]);
        }
        QCOMPARE(notes, (QList<int>{60, 67, 64, 71, 69, 76}));
        host->processAudio(block.left.data(), block.right.data(), 4096); // an empty block
        QCOMPARE(host->atomPortBuffer(0)->size, 8u);
    }

    // mda Piano's and EPiano's A4 stay at 440 Hz when the engine moves to another rate;
    // bypass is kept.
    void rateChangeKeepsPitch() {
        useLv2Bundles({QStringLiteral("mda.lv2")});
        for (const char* name : {"Piano", "EPiano"}) {
            AudioEngine engine;
            QVERIFY(engine.lv2Host.loadPlugin(mda + name));
            for (std::uint32_t rate : {48000u, 96000u, 44100u}) {
                engine.lv2Host.setBypassed(rate == 96000);
                engine.prepareOffline(rate, 256);
                QCOMPARE(engine.lv2Host.isBypassed(), rate == 96000);
                engine.lv2Host.setBypassed(false);
                engine.lv2Host.sendMidiNoteOn(0, 69, 100);
                const StereoSignal out = renderBlocks(engine, rate / 2, 256);
                const double hz = dominantFrequency(out.left, rate, 300.0, 600.0, rate / 10);
                TMB_VERIFY(std::fabs(hz - 440.0) < 4.4, name, rate, hz);
                engine.lv2Host.sendMidiNoteOff(0, 69);
            }
        }
    }

    void drumGizmoConfiguration() {
        auto host = hostWith({});
        const QString conf = Lv2HostEngine::drumGizmoConfigPath();
        QVERIFY(conf.startsWith(QDir::homePath()));
        const QString kit = QDir::homePath() + "/kit dir/drumkit.xml", map = QDir::homePath() + "/map.xml";
        QDir().mkpath(QDir::homePath() + "/kit dir");
        QVERIFY(QFile(kit).open(QIODevice::WriteOnly) && QFile(map).open(QIODevice::WriteOnly));
        const auto written = [&](const QString& midimap) {
            QFile f(conf);
            const QByteArray text =
                "defaultKit = \"" + kit.toUtf8() + "\"\ndefaultMidimap = \"" + midimap.toUtf8();
            return f.open(QIODevice::ReadOnly) && f.readAll() == text + "\"\n";
        };
        QVERIFY(host->configureDrumGizmoKit(kit, map) && written(map));
        QCOMPARE(host->statusMessage(), QStringLiteral("Configured DrumGizmo kit: drumkit.xml"));
        QVERIFY(host->configureDrumGizmoKit(kit, QString()) && written({}));
        QString error;
        QVERIFY(!host->configureDrumGizmoKit(kit + "x", map, &error) && written({}));
        QCOMPARE(error, QStringLiteral("Missing DrumGizmo kit file: %1x").arg(kit));
        // A folder where the file should be: the write fails and says so (also as root).
        QVERIFY(QFile::remove(conf) && QDir().mkpath(conf));
        QVERIFY(!host->configureDrumGizmoKit(kit, map, &error));
        QCOMPARE(error, QStringLiteral("Cannot write DrumGizmo configuration: %1").arg(conf));
        QCOMPARE(host->statusMessage(), error);
        QCOMPARE(host->drumMidimapPath(), QString());
        QVERIFY(QDir(conf).removeRecursively());
    }

    // Loading and unloading while another thread renders: no block runs a freed instance.
    void loadUnloadWhileRendering() {
        auto host = hostWith({QStringLiteral("mda.lv2")});
        std::atomic<bool> stop{false};
        std::atomic<int> blocks{0};
        std::thread audio([&] {
            Block block;
            while (!stop.load()) {
                host->sendMidiNoteOn(0, static_cast<std::uint8_t>(48 + blocks % 24), 100);
                host->processAudio(block.left.data(), block.right.data(), 64 + 64 * (blocks % 4));
                blocks.fetch_add(1);
            }
        });
        for (int cycle = 0; cycle < 200; ++cycle) {
            QVERIFY(host->loadPlugin(mda + (cycle % 2 ? "EPiano" : "DX10")));
            const int seen = blocks.load();
            while (blocks.load() < seen + 2)
                std::this_thread::yield();
            host->unloadPlugin();
        }
        stop.store(true);
        audio.join();
        QVERIFY(!host->isPluginActive());
    }
};

QTEST_GUILESS_MAIN(Lv2HostTest)
#include "tst_lv2_host.moc"
