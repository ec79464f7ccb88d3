// uir_model.cpp - one pass over the resource XML; the ids it hands out are the
// contract between the generated header and the running program.
#include "platform/ui/uir_model.h"

#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>

namespace qvar::uir {

const Control *Panel::find(const QString &objectName) const
{
    for (const Control &c : controls)
        if (c.name == objectName)
            return &c;
    return nullptr;
}

const Panel *Model::find(int number) const
{
    for (const Panel &p : panels)
        if (p.number == number)
            return &p;
    return nullptr;
}

namespace {

struct Frame {
    QString className;
    QString name;
    int panel = -1;     // index into Model::panels for a page
    int control = -1;   // index into the panel's controls
};

// Reads the typed value element inside <property>/<attribute>; leaves the
// reader on the closing tag of the property.
QVariant readValue(QXmlStreamReader &xml)
{
    QVariant v;
    while (xml.readNextStartElement()) {
        const QStringView t = xml.name();
        if (t == u"string" || t == u"cstring" || t == u"enum" || t == u"set") {
            v = xml.readElementText();
        } else if (t == u"number" || t == u"UInt" || t == u"longlong") {
            bool ok = false;
            const qlonglong n = xml.readElementText().trimmed().toLongLong(&ok);
            if (ok)
                v = n;
            else
                xml.raiseError(QStringLiteral("bad number"));
        } else if (t == u"double" || t == u"float") {
            bool ok = false;
            const double d = xml.readElementText().trimmed().toDouble(&ok);
            if (ok)
                v = d;
            else
                xml.raiseError(QStringLiteral("bad double"));
        } else if (t == u"bool") {
            v = xml.readElementText().trimmed() == u"true";
        } else {
            xml.skipCurrentElement();
        }
    }
    return v;
}

bool fail(QString *error, const QString &why, const QXmlStreamReader *xml = nullptr)
{
    if (error) {
        *error = xml ? QStringLiteral("line %1, column %2: %3")
                           .arg(xml->lineNumber()).arg(xml->columnNumber()).arg(why)
                     : why;
    }
    return false;
}

} // namespace

bool parse(const QByteArray &data, Model &out, QString *error)
{
    out = Model{};
    QXmlStreamReader xml(data);
    std::vector<Frame> widgets;   // open <widget> elements, outermost first
    QSet<int> numbers;
    bool sawUi = false, sawTop = false;

    if (!xml.readNextStartElement() || xml.name() != u"ui")
        return fail(error, QStringLiteral("not a UI file (no <ui> root)"), &xml);
    sawUi = true;

    // Depth counting by hand: readNextStartElement would hide the end tags of
    // <widget>, which we need to pop the stack.
    while (!xml.atEnd()) {
        const auto tok = xml.readNext();
        if (tok == QXmlStreamReader::EndElement && xml.name() == u"widget") {
            widgets.pop_back();
            continue;
        }
        if (tok != QXmlStreamReader::StartElement)
            continue;
        const QStringView tag = xml.name();
        const auto attrs = xml.attributes();

        if (tag == u"widget") {
            Frame f;
            f.className = attrs.value(QLatin1String("class")).toString();
            f.name = attrs.value(QLatin1String("name")).toString();
            if (widgets.empty()) {
                if (sawTop)
                    return fail(error, QStringLiteral("more than one top-level widget"), &xml);
                sawTop = true;
                if (f.className != u"QTabWidget" && f.className != u"QStackedWidget")
                    return fail(error, QStringLiteral("top-level widget must be a QTabWidget or QStackedWidget"), &xml);
            } else if (widgets.size() == 1) {
                if (f.name.isEmpty())
                    return fail(error, QStringLiteral("panel page without a name"), &xml);
                for (const Panel &p : out.panels)
                    if (p.name == f.name)
                        return fail(error, QStringLiteral("panel %1 twice").arg(f.name), &xml);
                Panel p;
                p.name = f.name;
                out.panels.push_back(p);
                f.panel = int(out.panels.size()) - 1;
            } else {
                const int pi = widgets[1].panel;
                Panel &p = out.panels[pi];
                f.panel = pi;
                if (f.name.startsWith(p.name + u'_')) {
                    if (p.find(f.name))
                        return fail(error, QStringLiteral("control %1 twice").arg(f.name), &xml);
                    Control c;
                    c.id = int(p.controls.size()) + 2;
                    c.name = f.name;
                    c.className = f.className;
                    p.controls.push_back(c);
                    f.control = int(p.controls.size()) - 1;
                }
            }
            widgets.push_back(f);
            continue;
        }

        // Only properties that belong to a widget directly matter; those of
        // items and layouts sit under other elements and are skipped whole.
        if ((tag == u"property" || tag == u"attribute") && !widgets.empty()) {
            const Frame &f = widgets.back();
            const QString pname = attrs.value(QLatin1String("name")).toString();
            const bool dynamic = attrs.value(QLatin1String("stdset")) == u"0";
            const QVariant v = readValue(xml);
            if (xml.hasError())
                break;
            if (f.control >= 0) {
                Control &c = out.panels[f.panel].controls[f.control];
                if (dynamic && pname == u"callback")
                    c.callback = v.toString().trimmed();
                else if (dynamic && pname == u"ctrlKind")
                    c.kind = v.toString().trimmed().toLower();
                else if (dynamic)
                    c.props.insert(pname, v);
            } else if (widgets.size() == 2) {
                Panel &p = out.panels[f.panel];
                if (pname == u"panelNumber") {
                    bool ok = false;
                    p.number = v.toInt(&ok);
                    if (!ok || p.number <= 0)
                        return fail(error, QStringLiteral("panel %1: bad panelNumber").arg(p.name), &xml);
                    if (numbers.contains(p.number))
                        return fail(error, QStringLiteral("panel number %1 twice").arg(p.number), &xml);
                    numbers.insert(p.number);
                } else if (pname == u"callback" && dynamic) {
                    p.callback = v.toString().trimmed();
                } else if ((pname == u"width" || pname == u"height") && dynamic) {
                    (pname == u"width" ? p.width : p.height) = std::max(0, v.toInt());
                } else if (pname == u"title" && (dynamic || tag == u"attribute")) {
                    if (p.title.isEmpty() || dynamic)
                        p.title = v.toString();
                }
            }
            continue;
        }
        if (tag == u"spacer") {
            xml.skipCurrentElement();
            continue;
        }
        // A combo box's items carry texts, not widgets; a layout's items hold
        // widgets that still count as controls.
        if (tag == u"item" && !widgets.empty()
            && (widgets.back().className == u"QComboBox" || widgets.back().className == u"QListWidget")) {
            xml.skipCurrentElement();
            continue;
        }
        if (widgets.empty() && tag != u"widget") {
            // <class>, <resources>, <connections>, <customwidgets>, ...
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        return fail(error, xml.errorString(), &xml);
    if (!sawUi || !sawTop)
        return fail(error, QStringLiteral("no top-level widget"));
    for (const Panel &p : out.panels)
        if (p.number <= 0)
            return fail(error, QStringLiteral("panel %1 has no panelNumber").arg(p.name));
    return true;
}

QByteArray header(const Model &model, const QString &sourceName)
{
    QByteArray h;
    h += "// ui_ids.h - panel and control constants of " + sourceName.toUtf8()
       + ", written by uirgen at build time; edit the resource file instead.\n";
    h += "#pragma once\n";
    for (const Panel &p : model.panels) {
        h += "\nenum {\n";
        h += "    " + p.name.toUtf8() + " = " + QByteArray::number(p.number) + ",\n";
        for (const Control &c : p.controls)
            h += "    " + c.name.toUtf8() + " = " + QByteArray::number(c.id) + ",\n";
        h += "};\n";
    }
    return h;
}

} // namespace qvar::uir
