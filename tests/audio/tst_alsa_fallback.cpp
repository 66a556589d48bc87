// The ALSA fallback thread against a scripted device. This binary's PCM functions
// and nanosleep are fakes: no device opens, and a back-off is counted, not slept.

#include "audio/AudioEngine.h"

#include <alsa/asoundlib.h>

#include <QTest>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <vector>

using namespace tmb;

namespace {

// One write: frames accepted (-1: all) or an error, and whether recovery succeeds.
struct Step {
    int result;
    bool recovers = false;
};

std::mutex g_mutex;
std::vector<Step> g_script;
std::size_t g_next = 0;
int g_pauses = 0;
thread_local bool t_fallbackThread = false;

bool scriptDone() {
    const std::lock_guard lock(g_mutex);
    return g_next == g_script.size();
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

extern "C" {

int snd_pcm_open(snd_pcm_t** pcm, const char*, snd_pcm_stream_t, int) {
    *pcm = reinterpret_cast<snd_pcm_t*>(&g_next);
    return 0;
}
int snd_pcm_set_params(snd_pcm_t*, snd_pcm_format_t, snd_pcm_access_t, unsigned, unsigned, int, unsigned) {
    return 0;
}
snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t*, const void*, snd_pcm_uframes_t size) {
    t_fallbackThread = true;
    if (!scriptDone()) {
        const std::lock_guard lock(g_mutex);
        const int result = g_script[g_next++].result;
        return result < -1 ? result : static_cast<snd_pcm_sframes_t>(size);
    }
    const timespec blockTime{0, 500'000}; // after the script, a device that plays in time
    clock_nanosleep(CLOCK_MONOTONIC, 0, &blockTime, nullptr);
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
    if (t_fallbackThread) {
        const std::lock_guard lock(g_mutex);
        ++g_pauses;
        return 0;
    }
    const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
    errno = error;
    return error == 0 ? 0 : -1;
}

} // extern "C"

class AlsaFallbackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Recovered errors write again at once; only unrecoverable ones back off; ten end it.
    void backsOffOnlyOnErrorsThatDoNotRecover_data() {
        QTest::addColumn<std::vector<Step>>("script");
        QTest::addColumn<int>("pauses");
        QTest::addColumn<bool>("fails");
        const Step ok{-1}, underrun{-EPIPE, true}, resumed{-ESTRPIPE, true}, gone{-ENODEV}, io{-EIO, true};
        // Scripts that play on end with a good write, so their pauses all came first; the others
        // end with the write that gives up (eight recovered errors in a row are let through).
        QTest::newRow("underruns, a resume")
            << std::vector{ok, underrun, ok, underrun, resumed, ok} << 0 << false;
        QTest::newRow("away for three writes")
            << std::vector{ok, gone, gone, gone, ok, underrun, ok} << 3 << false;
        QTest::newRow("gone") << std::vector<Step>(11, gone) << 10 << true;
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
        int errorCode = 0;
        bool failed = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            fails ? (failed = failed || engine.takeBackendFailure(&errorCode)) : scriptDone(), 20000);
        engine.stop();
        QVERIFY(fails || !engine.takeBackendFailure());
        QCOMPARE(errorCode, fails ? script.back().result : 0);
        const std::lock_guard lock(g_mutex);
        QCOMPARE(std::pair(g_pauses, g_next), std::pair(pauses, script.size()));
    }
};

QTEST_GUILESS_MAIN(AlsaFallbackTest)
#include "tst_alsa_fallback.moc"
