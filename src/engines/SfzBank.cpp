#include "SfzBank.h"

#include "engines/SfzParser.h"
#include "engines/SfzSampleData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace tmb {

namespace {

// The whole file as text, or false when it is not a readable regular file of
// bounded size.
bool readSfzText(const QString& path, QString* text) {
    const QFileInfo info(path);
    // Only regular files: opening a FIFO would block the loader.
    if (!info.isFile() || info.size() > SfzBank::maxTextBytes) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.read(SfzBank::maxTextBytes + 1);
    if (bytes.size() > SfzBank::maxTextBytes) return false;
    *text = QString::fromUtf8(bytes);
    return true;
}

} // namespace

std::shared_ptr<SfzBank> SfzBank::load(const QString& path, QString* error) {
    QString text;
    if (!readSfzText(path, &text)) {
        if (error) *error = QStringLiteral("Cannot open SFZ file: %1").arg(path);
        return nullptr;
    }
    const QFileInfo info(path);
    auto bank = std::make_shared<SfzBank>();
    bank->path = info.absoluteFilePath();
    bank->name = info.completeBaseName();
    const QDir folder = info.absoluteDir();

    // Regions that name the same file share one sample; a file that cannot be used
    // is remembered as null so it is tried only once.
    QHash<QString, std::shared_ptr<SfzSampleData>> samples;
    std::uint64_t decodedBytes = 0;
    for (SfzParsedRegion& parsed : SfzParser::parseRegions(SfzParser::joinLines(text))) {
        if (bank->regions.size() >= maxRegions) break;
        const QString samplePath = QDir::cleanPath(folder.absoluteFilePath(parsed.samplePath));
        auto found = samples.constFind(samplePath);
        if (found == samples.constEnd()) {
            auto sample = readSfzSampleFile(samplePath);
            if (sample) {
                const std::uint64_t decoded = sample->pcmFloat.size() * sizeof(float);
                if (decoded > maxDecodedBytes - decodedBytes)
                    sample.reset();
                else
                    decodedBytes += decoded;
            }
            if (sample) bank->mappedBytes += sample->mapLength;
            found = samples.insert(samplePath, std::move(sample));
        }
        if (!found.value()) continue;
        parsed.region.sample = found.value();
        bank->regions.push_back(std::move(parsed.region));
    }
    if (bank->regions.empty()) {
        if (error) *error = QStringLiteral("No valid playable regions found in %1").arg(path);
        return nullptr;
    }
    bank->regions.shrink_to_fit();
    return bank;
}

} // namespace tmb
