// uirgen.cpp - build-time generator: panel resource file -> ui_ids.h.
//
// Writes only when the text changes, so touching the resource file without
// changing any name or order does not rebuild the whole program.
#include "platform/ui/uir_model.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: uirgen <file.uir> <ui_ids.h>\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "uirgen: cannot read %s\n", argv[1]);
        return 1;
    }
    qvar::uir::Model model;
    QString error;
    if (!qvar::uir::parse(in.readAll(), model, &error)) {
        std::fprintf(stderr, "uirgen: %s: %s\n", argv[1], qPrintable(error));
        return 1;
    }
    for (const auto &p : model.panels)
        for (const auto &c : p.controls)
            if (c.name.contains(u' ')) {
                std::fprintf(stderr, "uirgen: %s: bad control name '%s'\n", argv[1], qPrintable(c.name));
                return 1;
            }
    const QByteArray text = qvar::uir::header(model, QFileInfo(in.fileName()).fileName());

    QFile out(QString::fromLocal8Bit(argv[2]));
    if (out.open(QIODevice::ReadOnly) && out.readAll() == text)
        return 0;
    out.close();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size()) {
        std::fprintf(stderr, "uirgen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
