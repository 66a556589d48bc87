// The ALSA fallback thread against a scripted device: an underrun or a resume is
// recovered and written again at once, with no pause; only errors the device does
// not recover from (or recovered errors that never let a write through) back off,
// and too many in a row end the thread with a failure the controller can report.
// This binary's PCM functions and nanosleep are fakes: no device is opened, and a
// back-off is counted instead of slept.

#include "audio/AudioEngine.h"

#include <alsa/asoundlib.h>

#include <QTest>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <vector>

using namespace tmb;

namespace {

// One scripted write: the frames accepted (-1: all of them) or a negative error, and
// whether snd_pcm_recover recovers that error.
struct Step {
    int result;
    bool recovers = false;
};

std::mutex g_mutex;
std::vector<Step> g_script;
std::size_t g_next = 0;
int g_pauses = 0; // back-offs requested by the fallback thread
thread_local bool t_onFallbackThread = false;
snd_pcm_t* const fakePcm = reinterpret_cast<snd_pcm_t*>(&g_next);

void realSleep(long nanoseconds) {
    const timespec pause{0, nanoseconds};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

extern "C" {

int snd_pcm_open(snd_pcm_t** pcm, const char*, snd_pcm_stream_t, int) {
    *pcm = fakePcm;
    return 0;
}

int snd_pcm_set_params(snd_pcm_t*, snd_pcm_format_t, snd_pcm_access_t, unsigned int, unsigned int, int,
                       unsigned int) {
    return 0;
}

snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t*, const void*, snd_pcm_uframes_t size) {
    t_onFallbackThread = true;
    {
        const std::lock_guard lock(g_mutex);
        if (g_next < g_script.size()) {
            const Step step = g_script[g_next++];
            return step.result < 0 && step.result != -1 ? step.result : static_cast<snd_pcm_sframes_t>(size);
        }
    }
    realSleep(500'000); // after the script, a device that plays in time
    return static_cast<snd_pcm_sframes_t>(size);
}

int snd_pcm_recover(snd_pcm_t*, int error, int) {
    const std::lock_guard lock(g_mutex);
    return g_script[g_next - 1].recovers ? 0 : error;
}

int snd_pcm_drop(snd_pcm_t*) {
    return 0;
}

int snd_pcm_close(snd_pcm_t*) {
    return 0;
}

int nanosleep(const timespec* request, timespec* remaining) {
    if (t_onFallbackThread) {
        const std::lock_guard lock(g_mutex);
        ++g_pauses;
        return 0;
    }
    const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

} // extern "C"

class AlsaFallbackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void backsOffOnlyOnErrorsThatDoNotRecover_data() {
        QTest::addColumn<std::vector<Step>>("script");
        QTest::addColumn<int>("pauses");
        QTest::addColumn<bool>("fails");
        const Step ok{-1}, underrun{-EPIPE, true}, resumed{-ESTRPIPE, true}, gone{-ENODEV}, io{-EIO, true};
        QTest::newRow("underruns and a resume")
            << std::vector{ok, underrun, ok, underrun, resumed, ok} << 0 << false;
        QTest::newRow("device away, then back")
            << std::vector{ok, gone, gone, gone, ok, underrun, ok} << 3 << false;
        QTest::newRow("device gone") << std::vector<Step>(11, gone) << 10 << true;
        QTest::newRow("recovers, never writes") << std::vector<Step>(19, io) << 10 << true;
    }

    void backsOffOnlyOnErrorsThatDoNotRecover() {
        QFETCH(std::vector<Step>, script);
        QFETCH(int, pauses);
        QFETCH(bool, fails);
        {
            const std::lock_guard lock(g_mutex);
            g_script = script;
            g_next = 0;
            g_pauses = 0;
        }
        AudioEngine engine;
        QVERIFY(engine.restartWithSettings(QStringLiteral("ALSA"), QStringLiteral("default"), 48000, 256));
        QCOMPARE(engine.backendName, QStringLiteral("ALSA"));
        // Every script that plays on ends with a good write, so its pauses all came first.
        int errorCode = 0;
        bool failed = false;
        const auto finished = [&] {
            if (fails) return failed = failed || engine.takeBackendFailure(&errorCode);
            const std::lock_guard lock(g_mutex);
            return g_next == g_script.size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(finished(), 20000);
        engine.stop();
        QVERIFY(fails || !engine.takeBackendFailure());
        if (fails) QCOMPARE(errorCode, script.back().result);
        const std::lock_guard lock(g_mutex);
        QCOMPARE(g_pauses, pauses);
    }
};

QTEST_GUILESS_MAIN(AlsaFallbackTest)
#include "tst_alsa_fallback.moc"
