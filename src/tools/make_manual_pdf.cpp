// Build-time tool: turns the Markdown manual and the licence text into the user
// manual PDF kept in the program's resources.
//   make_manual_pdf <manual.md> <LICENSE> <out.pdf>

#include <QFile>
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdio>

namespace {

QByteArray readAll(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make_manual_pdf: cannot read %s\n", path);
        return {};
    }
    return file.readAll();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_manual_pdf <manual.md> <LICENSE> <out.pdf>\n");
        return 2;
    }
    QGuiApplication app(argc, argv); // fonts for the layout
    const QByteArray manual = readAll(argv[1]);
    const QByteArray licence = readAll(argv[2]);
    if (manual.isEmpty() || licence.isEmpty()) return 1;

    // The licence goes in as a verbatim block, so its line breaks stay.
    QString markdown = QString::fromUtf8(manual);
    markdown += QStringLiteral("\n\n## Licence\n\n```\n") + QString::fromUtf8(licence).trimmed() +
                QStringLiteral("\n```\n");

    QSaveFile out(QString::fromLocal8Bit(argv[3]));
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "make_manual_pdf: cannot write %s\n", argv[3]);
        return 1;
    }
    {
        QPdfWriter writer(&out);
        writer.setTitle(QStringLiteral("Tembora User Manual"));
        writer.setCreator(QStringLiteral("Tembora"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
        QTextDocument document;
        document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 11));
        document.setMarkdown(markdown);
        document.print(&writer);
    }
    return out.commit() ? 0 : 1;
}
