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

    // A track, an unknown chunk and a header of 4 GiB; a meta event and a sysex of 256 MiB; 65535
    // tracks declared: parsed from memory, then loaded from a file (with the file object's buffer).
    void hugeDeclaredLengthsAllocateNothingLarge() {
        const QByteArray note = midiMessage(0, 0x90, 60, 100);
        QTemporaryDir dir;
        for (const QByteArray& file :
             {header(0, 1, 96) + track(note, 0xFFFFFFFF), header(0, 1, 96) + chunk("Huge", note, 0xFFFFFFFF),
              QByteArray("MThd") + be32(0xFFFFFFFF) + bytes({0, 0, 0, 1, 0, 96}),
              header(0, 1, 96) + track(note + bytes({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a'})),
              header(0, 1, 96) + track(note + bytes({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01})),
              header(1, 0xFFFF, 96) + track(note)}) {
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
    }
};

QTEST_GUILESS_MAIN(SmfBoundedAllocationTest)
#include "tst_smf_bounded_allocation.moc"
