// libFuzzer target for the style-file reader through BeatSequencer::importStyFile (see
// README.md "Fuzzing"; -dict=tests/fuzz/style_file.dict). Every input goes to one file
// imported again, so the refresh runs too; it traps on a style the band cannot play.

#include "rhythm/BeatSequencer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <unistd.h>

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool validOffset(std::int8_t offset, int low, int high) {
    return offset == tmb::StyleArrangerStep::noNote || (offset >= low && offset <= high);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tmb::BeatSequencer sequencer;
    static const bool loaded = (sequencer.initBuiltinStyles(), true);
    require(loaded);
    static const QString path =
        QDir::tempPath() + QStringLiteral("/tembora-fuzz-%1/Praise_Rhumba.sty").arg(::getpid());
    static const bool folder = QDir().mkpath(QFileInfo(path).absolutePath());
    require(folder);
    {
        QFile file(path);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QString error;
    const int index = sequencer.importStyFile(path, &error);
    if (size <= 17) {
        require(index == -1 && error.startsWith(QLatin1String("Invalid or empty .STY file")));
        return 0;
    }
    require(index == 35 && error.isEmpty()); // the same path always refreshes one style
    require(sequencer.styles().size() == 36 && sequencer.selectedStyleIndex() == index);
    const tmb::StylePattern& style = sequencer.styles()[static_cast<std::size_t>(index)];
    require(style.isCustomSty && style.bpm >= 45.0f && style.bpm <= 220.0f);
    require((style.stepsPerBar == 16 && style.beatsPerBar == 4) ||
            (style.stepsPerBar == 12 && (style.beatsPerBar == 3 || style.beatsPerBar == 6)));
    for (int program : {style.rhythmGmProg, style.bassGmProg, style.leadGmProg, style.harmonyGmProg})
        require(program >= 0 && program <= 127);
    for (int note : style.laneNotes)
        require(note >= 0 && note <= 127);
    for (const auto& section : style.velocityGrid)
        for (const auto& lane : section)
            for (std::uint8_t velocity : lane)
                require(velocity <= 127);
    for (const auto& section : style.arrangerSteps) {
        for (const tmb::StyleArrangerStep& step : section) {
            require(step.bassPitchClass < 12 || step.bassPitchClass == tmb::StyleArrangerStep::noBass);
            require(step.chord1Count <= 4 && step.chord2Count <= 4 && step.padCount <= 3);
            for (const auto* notes : {&step.chord1Notes, &step.chord2Notes})
                for (std::int8_t n : *notes)
                    require(validOffset(n, -12, 24));
            for (std::int8_t n : step.padNotes)
                require(validOffset(n, -16, 24));
            for (std::uint8_t v :
                 {step.bassVelocity, step.chord1Velocity, step.chord2Velocity, step.padVelocity})
                require(v <= 127);
        }
    }
    return 0;
}
