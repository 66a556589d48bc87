// Replacing instruments while the audio thread plays: a replaced instrument stays
// alive exactly as long as a voice still reads its samples, loads from several
// threads serialise their installs, and the GUI thread reads the current path and
// region count meanwhile. Run under ASan and TSan: a freed or unmapped sample read
// by a ringing note, or an unsynchronised hand-over, fails here.

#include "engines/SfzPianoEngine.h"
#include "support/AudioAnalysis.h"
#include "support/SfzFixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace tmb;
using namespace tmb::test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t blockFrames = 256;

// Stands in for the audio callback: renders blocks at about real time, plays
// a changing note on whatever instrument is current, and runs closures posted to it.
class AudioThread {
public:
    AudioThread(SfzPianoEngine& engine, const std::atomic<bool>& quiet)
        : m_engine(engine)
        , m_quiet(quiet)
        , m_thread([this] { loop(); }) {}
    ~AudioThread() {
        m_stop = true;
        m_thread.join();
    }

    // Runs `task` on the audio thread between two blocks and waits for it.
    void run(std::function<void(SfzPianoEngine&)> task) {
        std::promise<void> done;
        auto finished = done.get_future();
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back([&] {
                task(m_engine);
                done.set_value();
            });
        }
        finished.wait();
    }

    // The next `frames` frames of the left output.
    std::vector<float> capture(std::size_t frames) {
        std::vector<float> samples;
        std::promise<void> done;
        auto finished = done.get_future();
        run([&](SfzPianoEngine&) {
            m_capture = &samples;
            m_captureFrames = frames;
            m_captureDone = &done;
        });
        finished.wait();
        return samples;
    }

private:
    void loop() {
        std::vector<float> left(blockFrames), right(blockFrames);
        int lastNote = -1;
        for (std::uint64_t block = 0; !m_stop; ++block) {
            std::vector<std::function<void()>> tasks;
            if (m_mutex.try_lock()) {
                tasks.swap(m_tasks);
                m_mutex.unlock();
            }
            for (auto& task : tasks)
                task();
            if (block % 8 == 0 && !m_quiet) {
                if (lastNote >= 0) m_engine.noteOff(lastNote, 0.5f);
                lastNote = 40 + static_cast<int>((block / 8) * 7 % 60);
                m_engine.noteOn(lastNote, 90, 440.0f);
            }
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            m_engine.renderStereo(left.data(), right.data(), blockFrames);
            if (m_capture != nullptr) {
                m_capture->insert(m_capture->end(), left.begin(), left.end());
                if (m_capture->size() >= m_captureFrames) {
                    m_capture = nullptr;
                    m_captureDone->set_value();
                }
            }
            // About real time (5.3 ms of audio a block), so the ringing note is
            // still loud when the test listens for it.
            std::this_thread::sleep_for(4ms);
        }
    }

    SfzPianoEngine& m_engine;
    const std::atomic<bool>& m_quiet; // stops the changing note
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_tasks;
    std::vector<float>* m_capture = nullptr; // audio thread only
    std::size_t m_captureFrames = 0;
    std::promise<void>* m_captureDone = nullptr;
    std::thread m_thread;
};

} // namespace

class SfzBankLifetimeTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::atomic<bool> m_quiet{false};

    QString write(const QString& name, const QByteArray& sfz) {
        const QString path = m_dir.filePath(name);
        if (!writeTestFile(path, sfz)) qFatal("cannot write %s", qPrintable(name));
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // A long low string in both sample paths (mapped 16-bit and decoded float),
        // at a low file rate to keep the files small.
        TestTone low;
        low.frequency = 110.0;
        low.seconds = 40.0;
        low.sampleRate = 8000;
        QVERIFY(writeTestWav(m_dir.filePath(u"low16.wav"_qs), low));
        low.encoding = WavEncoding::Float32;
        QVERIFY(writeTestWav(m_dir.filePath(u"lowf.wav"_qs), low));
        TestTone shortTone;
        shortTone.frequency = 880.0;
        shortTone.seconds = 0.3;
        QVERIFY(writeTestWav(m_dir.filePath(u"short.wav"_qs), shortTone));
        shortTone.encoding = WavEncoding::Pcm24;
        QVERIFY(writeTestWav(m_dir.filePath(u"short24.wav"_qs), shortTone));
    }

    void fiveSwitchesWhileAPedalledNoteFromTheFirstRings() {
        SfzPianoEngine engine;
        QVERIFY(engine.loadSfzFile(write(u"first.sfz"_qs, "<group> key=33 pitch_keytrack=0\n"
                                                          "<region> sample=low16.wav\n"
                                                          "<region> sample=lowf.wav\n")));
        QStringList others;
        for (int i = 0; i < 5; ++i)
            others << write(QStringLiteral("other%1.sfz").arg(i),
                            "<region> sample=short.wav pitch_keycenter=60\n"
                            "<region> sample=short24.wav trigger=release\n");
        AudioThread audio(engine, m_quiet);
        audio.run([](SfzPianoEngine& e) {
            e.noteOn(33, 110, 440.0f);
            e.setSustainPedal(true, 127, 0.0f);
            e.noteOff(33, 0.5f);
        });
        for (const QString& path : others) {
            QString error;
            QVERIFY2(engine.loadSfzFile(path, &error), qPrintable(error));
            QCOMPARE(engine.currentSfzPath(), path);
            QCOMPARE(engine.loadedRegionCount(), 2);
            std::this_thread::sleep_for(30ms); // notes play on each new instrument
        }
        // The in-between instruments go as soon as their notes end; the first stays
        // while its string rings under the pedal, and its samples are still read.
        QTRY_COMPARE_WITH_TIMEOUT(engine.retiredBankCount(), 1, 20000);
        const std::vector<float> ringing = audio.capture(12000);
        QVERIFY2(toneAmplitude(ringing, 48000, 110) > 0.001,
                 qPrintable(QString::number(toneAmplitude(ringing, 48000, 110))));

        audio.run([](SfzPianoEngine& e) { e.setSustainPedal(false, 0, 0.0f); });
        QTRY_COMPARE_WITH_TIMEOUT(engine.retiredBankCount(), 0, 20000);
        // Listen again without the other notes, whose clicks would leak into 110 Hz.
        m_quiet = true;
        audio.run([](SfzPianoEngine& e) { e.allNotesOff(); });
        audio.capture(4800);
        const std::vector<float> after = audio.capture(12000);
        QVERIFY(toneAmplitude(after, 48000, 110) < 1e-6);
        QCOMPARE(engine.currentSfzPath(), others.last());
    }

    void loadsFromTwoThreadsAtOnce() {
        m_quiet = false;
        SfzPianoEngine engine;
        const QString three = write(u"three.sfz"_qs, "<region> sample=short.wav lokey=0 hikey=60\n"
                                                     "<region> sample=short24.wav lokey=61 hikey=127\n"
                                                     "<region> sample=short24.wav trigger=release\n");
        const QString five =
            write(u"five.sfz"_qs, "<region> sample=short.wav\n<region> sample=short24.wav\n"
                                  "<region> sample=low16.wav key=33\n<region> sample=lowf.wav key=34\n"
                                  "<region> sample=short.wav trigger=release\n");
        const QString broken = write(u"broken.sfz"_qs, "<region> sample=missing.wav\n");
        QVERIFY(engine.loadSfzFile(three));
        AudioThread audio(engine, m_quiet);

        std::atomic<int> failures{0};
        auto loader = [&](const QString& first, const QString& second) {
            for (int i = 0; i < 12; ++i) {
                QString error;
                if (!engine.loadSfzFile(i % 2 ? second : first, &error)) failures++;
                if (i % 4 == 3 && engine.loadSfzFile(broken, &error)) failures++;
            }
        };
        std::thread a(loader, three, five);
        std::thread b(loader, five, three);
        // The GUI thread reads while the loaders install.
        for (int i = 0; i < 200; ++i) {
            const QString path = engine.currentSfzPath();
            const int count = engine.loadedRegionCount();
            QVERIFY(path == three || path == five);
            QVERIFY(count == 3 || count == 5);
            std::this_thread::sleep_for(1ms);
        }
        a.join();
        b.join();
        QCOMPARE(failures.load(), 0);
        const QString path = engine.currentSfzPath();
        QCOMPARE(engine.loadedRegionCount(), path == three ? 3 : 5);
        QTRY_COMPARE_WITH_TIMEOUT(engine.retiredBankCount(), 0, 20000);
    }

    void engineGoesAwayWithRetiredInstruments() {
        // Destruction with a replaced instrument still held by a voice frees both.
        auto engine = std::make_unique<SfzPianoEngine>();
        QVERIFY(engine->loadSfzFile(write(u"held.sfz"_qs, "<region> sample=low16.wav")));
        engine->setSustainPedal(true, 127, 0.0f);
        engine->noteOn(60, 100, 440.0f);
        std::vector<float> left(blockFrames), right(blockFrames);
        engine->renderStereo(left.data(), right.data(), blockFrames);
        QVERIFY(engine->loadSfzFile(write(u"next.sfz"_qs, "<region> sample=short.wav")));
        QCOMPARE(engine->retiredBankCount(), 1);
        engine.reset();
    }
};

QTEST_GUILESS_MAIN(SfzBankLifetimeTest)
#include "tst_sfz_bank_lifetime.moc"
