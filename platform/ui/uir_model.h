// uir_model.h - reads the panel resource file (Qt Designer UI XML) into
// panels and controls with their ids (platform-internal).
//
// Shared by the build-time header generator and by LoadPanel, so the control
// constants the program is compiled with and the ids LoadPanel hands out come
// from one reading of one file.
//
// File layout: the top-level widget holds one page per panel. A page's
// objectName is the panel constant, its dynamic property `panelNumber` the
// resource number; optional `callback` names the panel callback. Any widget
// below a page whose objectName starts with "<panel constant>_" is a control;
// parse gives controls ids 2, 3, ... in document order within their panel,
// which is what the generated header records; bindIds later maps a file
// edited since onto those ids by name.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <vector>

namespace qvar::uir {

struct Control {
    int     id = 0;
    QString name;        // objectName, also the generated constant
    QString className;   // Qt class in the file
    QString kind;        // dynamic property ctrlKind, empty when the class says it all
    QString callback;    // empty: none
    QHash<QString, QVariant> props;   // every other dynamic property
};

struct Panel {
    int     number = 0;
    QString name;        // panel constant and page objectName
    QString callback;
    QString title;
    int width = 0, height = 0;   // dynamic width/height: the panel's fixed size
    // Dynamic tabBefore: a child panel's controls come in its parent's Tab
    // order before the parent's control of that name; empty: after them all.
    QString tabBefore;
    std::vector<Control> controls;

    const Control *find(const QString &objectName) const;
};

struct Model {
    std::vector<Panel> panels;
    const Panel *find(int number) const;
};

// Returns true on success; on failure `error` says why (line and column).
bool parse(const QByteArray &xml, Model &out, QString *error);

// A control the program was built with: its name and the id it uses.
struct KnownControl {
    QString name;
    int id = 0;
};

// Gives `panel`'s controls the ids the program knows them by, so that ids
// follow names whatever the document order. A known control the panel lacks
// fails (`error` names it, `panel` unchanged); controls the file adds get
// ids above the known ones, in document order.
bool bindIds(Panel &panel, const std::vector<KnownControl> &known, QString *error);

// Text of the generated ui_ids.h.
QByteArray header(const Model &model, const QString &sourceName);

} // namespace qvar::uir
