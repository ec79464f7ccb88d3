// fuzz_uir.cpp - the resource-file model: any document through the parser,
// and the header generator over whatever it accepted.
#include "platform/ui/uir_model.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qvar::uir::Model model;
    QString error;
    if (qvar::uir::parse(xml, model, &error)) {
        for (const auto &panel : model.panels) {
            model.find(panel.number);
            for (const auto &control : panel.controls)
                panel.find(control.name);
        }
        qvar::uir::header(model, QStringLiteral("fuzz.uir"));
    }
    return 0;
}
