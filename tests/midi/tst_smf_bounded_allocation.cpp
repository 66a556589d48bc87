// A MIDI file's declared lengths never size an allocation (this binary replaces the allocator).

#include "SmfBytes.h"
#include "midi/StandardMidiFile.h"
#include "support/AllocationCounter.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tmb;
using namespace tmb::test;

class SmfBoundedAllocationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void counterSeesTheLargestAllocation() {
        // Guards the guard.
        static void* volatile escape = nullptr;
        AllocationScope scope;
        escape = std::malloc(123456);
        std::free(escape);
        QVERIFY(scope.largestBytes() >= 123456);
    }

    void hugeDeclaredLengthsAllocateNothingLarge_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray note = midiMessage(0, 0x90, 60, 100);
        QTest::newRow("track chunk of 4 GiB") << header(0, 1, 96) + track(note, 0xFFFFFFFF);
        QTest::newRow("unknown chunk of 4 GiB") << header(0, 1, 96) + chunk("Huge", note, 0xFFFFFFFF);
        QTest::newRow("header of 4 GiB")
            << QByteArray("MThd") + be32(0xFFFFFFFF) + bytes({0, 0, 0, 1, 0, 96});
        QTest::newRow("meta event of 256 MiB")
            << header(0, 1, 96) + track(note + bytes({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}));
        QTest::newRow("sysex of 256 MiB")
            << header(0, 1, 96) + track(note + bytes({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01}));
        QTest::newRow("65535 tracks declared") << header(1, 0xFFFF, 96) + track(note);
    }

    void hugeDeclaredLengthsAllocateNothingLarge() {
        QFETCH(QByteArray, file);
        // Parsed from memory, then loaded from a file on disk (the file itself and the
        // file object's own buffer).
        QTemporaryDir dir;
        QFile out(dir.filePath(QStringLiteral("x.mid")));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        StandardMidiFile smf;
        QString error;
        for (bool fromDisk : {false, true}) {
            AllocationScope scope;
            fromDisk ? smf.load(out.fileName(), &error) : smf.parse(file, &error);
            QVERIFY2(scope.largestBytes() < (fromDisk ? 65536u : 4096u),
                     qPrintable(QStringLiteral("largest allocation %1 bytes").arg(scope.largestBytes())));
        }
    }
};

QTEST_GUILESS_MAIN(SmfBoundedAllocationTest)
#include "tst_smf_bounded_allocation.moc"
