// Every call the audio thread makes into the SFZ piano allocates nothing: notes,
// layers, stealing, release and pedal samples, both pedals, bend, all-notes-off,
// resonance, long blocks, and the hand-over of instruments a loader installs
// meanwhile. This binary replaces the global allocator to count.

#include "engines/SfzPianoEngine.h"
#include "support/AllocationCounter.h"
#include "support/SfzFixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace tmb;
using namespace tmb::test;

class SfzRenderAllocationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void audioThreadCallsAllocateNothing() {
        QTemporaryDir dir;
        TestTone tone;
        tone.seconds = 0.5;
        QVERIFY(writeTestWav(dir.filePath(u"s16.wav"_qs), tone));
        tone.channels = 2;
        tone.encoding = WavEncoding::Float32;
        QVERIFY(writeTestWav(dir.filePath(u"f32.wav"_qs), tone));
        const QByteArray sfz = "<region> sample=s16.wav lovel=1 hivel=80\n"
                               "<region> sample=f32.wav lovel=40 hivel=127\n"
                               "<region> sample=f32.wav trigger=release\n"
                               "<region> sample=s16.wav on_locc64=64 on_hicc64=127\n"
                               "<region> sample=s16.wav on_locc64=0 on_hicc64=63\n";
        const QString first = dir.filePath(u"first.sfz"_qs);
        const QString second = dir.filePath(u"second.sfz"_qs);
        QVERIFY(writeTestFile(first, sfz));
        QVERIFY(writeTestFile(second, sfz));

        SfzPianoEngine engine;
        engine.stringResonance = 1.0f;
        QVERIFY(engine.loadSfzFile(first));
        std::atomic<bool> rendering{true};
        std::size_t allocations = 0;
        std::thread audio([&] {
            std::vector<float> left(5000), right(5000);
            engine.renderStereo(left.data(), right.data(), 256); // first-touch work outside the count
            AllocationScope scope;
            for (int block = 0; block < 3000; ++block) {
                const int step = block % 100;
                if (step == 0) {
                    for (int note = 0; note < 140; ++note) // past 128 voices: stealing
                        engine.noteOn(note % 128, 20 + note % 100, 440.0f);
                } else if (step == 10) {
                    engine.setSustainPedal(true, 100, 0.5f);
                } else if (step == 20) {
                    for (int note = 0; note < 128; note += 3)
                        engine.noteOff(note, 0.5f);
                    engine.setSostenutoPedal(true);
                    engine.setPitchBend(static_cast<std::int16_t>(block * 3 - 4096));
                } else if (step == 30) {
                    engine.setSustainPedal(false, 0, 0.5f);
                    engine.setSostenutoPedal(false);
                    for (int note = 1; note < 128; note += 3)
                        engine.noteOff(note, 0.5f);
                } else if (step == 50) {
                    engine.softPedal = !engine.softPedal;
                    engine.noteOn(60, 0, 440.0f); // velocity 0 is a note off
                    engine.allNotesOff();
                }
                engine.renderStereo(left.data(), right.data(), block % 7 == 0 ? 5000 : 256);
                (void)engine.activeVoiceCount();
            }
            allocations = scope.count();
            rendering = false;
        });
        // Instruments are replaced while the audio thread plays them.
        int failedLoads = 0;
        for (int i = 0; rendering; ++i) {
            if (!engine.loadSfzFile(i % 2 ? first : second)) ++failedLoads;
            std::this_thread::yield();
        }
        audio.join();
        QCOMPARE(failedLoads, 0);
        QCOMPARE(allocations, std::size_t{0});
    }
};

QTEST_GUILESS_MAIN(SfzRenderAllocationTest)
#include "tst_sfz_render_allocations.moc"
