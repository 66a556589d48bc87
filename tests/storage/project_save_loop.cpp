// Saves a 20,000-note project to the path it is given, over and over, until killed.

#include "storage/ProjectDocument.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    tmb::ProjectContent content;
    content.projectName = QStringLiteral("Kill Test");
    for (std::uint32_t i = 0; i < 20000; ++i)
        content.notes.push_back({i + 1, 0, 36 + static_cast<int>(i % 60), 90, i * 0.25, 0.25});
    const QString path = QString::fromLocal8Bit(argv[1]);
    for (;;) {
        if (!tmb::ProjectDocument::save(path, content, nullptr)) return 1;
        std::puts("saved");
        std::fflush(stdout);
    }
}
