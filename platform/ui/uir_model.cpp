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

bool failWith(QString *error, const QString &why, const QXmlStreamReader *xml = nullptr)
{
    if (error) {
        *error = xml ? QStringLiteral("line %1, column %2: %3")
                           .arg(xml->lineNumber()).arg(xml->columnNumber()).arg(why)
                     : why;
    }
    return false;
}

} // namespace

namespace {

// One pass over the document. Each handler returns false after it has
// stored the error; the reader stops there.
class Parser {
public:
    Parser(const QByteArray &data, Model &out, QString *error) : xml_(data), out_(out), error_(error) {}
    bool run();

private:
    bool fail(const QString &why) { return failWith(error_, why, &xml_); }
    bool onWidget(const QXmlStreamAttributes &attrs);
    bool onPage(Frame &f);
    bool onControl(Frame &f);
    bool onProperty(const QStringView tag, const QXmlStreamAttributes &attrs);
    bool onPanelProperty(Panel &p, const QString &pname, bool dynamic, bool attribute, const QVariant &v);
    void skipForeign(const QStringView tag);

    QXmlStreamReader xml_;
    Model &out_;
    QString *error_;
    std::vector<Frame> widgets_;   // open <widget> elements, outermost first
    QSet<int> numbers_;
    bool sawTop_ = false;
};

bool Parser::onWidget(const QXmlStreamAttributes &attrs)
{
    Frame f;
    f.className = attrs.value(QLatin1String("class")).toString();
    f.name = attrs.value(QLatin1String("name")).toString();
    if (widgets_.empty()) {
        if (sawTop_)
            return fail(QStringLiteral("more than one top-level widget"));
        sawTop_ = true;
        if (f.className != u"QTabWidget" && f.className != u"QStackedWidget")
            return fail(QStringLiteral("top-level widget must be a QTabWidget or QStackedWidget"));
    } else if (widgets_.size() == 1) {
        if (!onPage(f))
            return false;
    } else if (!onControl(f)) {
        return false;
    }
    widgets_.push_back(f);
    return true;
}

bool Parser::onPage(Frame &f)
{
    if (f.name.isEmpty())
        return fail(QStringLiteral("panel page without a name"));
    for (const Panel &p : out_.panels)
        if (p.name == f.name)
            return fail(QStringLiteral("panel %1 twice").arg(f.name));
    Panel p;
    p.name = f.name;
    out_.panels.push_back(p);
    f.panel = int(out_.panels.size()) - 1;
    return true;
}

bool Parser::onControl(Frame &f)
{
    const int pi = widgets_[1].panel;
    Panel &p = out_.panels[size_t(pi)];
    f.panel = pi;
    if (!f.name.startsWith(p.name + u'_'))
        return true;
    if (p.find(f.name))
        return fail(QStringLiteral("control %1 twice").arg(f.name));
    Control c;
    c.id = int(p.controls.size()) + 2;
    c.name = f.name;
    c.className = f.className;
    p.controls.push_back(c);
    f.control = int(p.controls.size()) - 1;
    return true;
}

// Only properties that belong to a widget directly matter; those of items
// and layouts sit under other elements and are skipped whole.
bool Parser::onProperty(const QStringView tag, const QXmlStreamAttributes &attrs)
{
    const Frame &f = widgets_.back();
    const QString pname = attrs.value(QLatin1String("name")).toString();
    const bool dynamic = attrs.value(QLatin1String("stdset")) == u"0";
    const QVariant v = readValue(xml_);
    if (xml_.hasError())
        return true;   // reported by run()
    if (f.control >= 0) {
        Control &c = out_.panels[size_t(f.panel)].controls[size_t(f.control)];
        if (dynamic && pname == u"callback")
            c.callback = v.toString().trimmed();
        else if (dynamic && pname == u"ctrlKind")
            c.kind = v.toString().trimmed().toLower();
        else if (dynamic)
            c.props.insert(pname, v);
        return true;
    }
    if (widgets_.size() == 2)
        return onPanelProperty(out_.panels[size_t(f.panel)], pname, dynamic, tag == u"attribute", v);
    return true;
}

bool Parser::onPanelProperty(Panel &p, const QString &pname, bool dynamic, bool attribute,
                             const QVariant &v)
{
    if (pname == u"panelNumber") {
        bool ok = false;
        p.number = v.toInt(&ok);
        if (!ok || p.number <= 0)
            return fail(QStringLiteral("panel %1: bad panelNumber").arg(p.name));
        if (numbers_.contains(p.number))
            return fail(QStringLiteral("panel number %1 twice").arg(p.number));
        numbers_.insert(p.number);
    } else if (pname == u"callback" && dynamic) {
        p.callback = v.toString().trimmed();
    } else if (pname == u"tabBefore" && dynamic) {
        p.tabBefore = v.toString().trimmed();
    } else if ((pname == u"width" || pname == u"height") && dynamic) {
        (pname == u"width" ? p.width : p.height) = std::max(0, v.toInt());
    } else if (pname == u"title" && (dynamic || attribute)) {
        if (p.title.isEmpty() || dynamic)
            p.title = v.toString();
    }
    return true;
}

void Parser::skipForeign(const QStringView tag)
{
    if (tag == u"spacer") {
        xml_.skipCurrentElement();
        return;
    }
    // A combo box's items carry texts, not widgets; a layout's items hold
    // widgets that still count as controls.
    if (tag == u"item" && !widgets_.empty()
        && (widgets_.back().className == u"QComboBox" || widgets_.back().className == u"QListWidget")) {
        xml_.skipCurrentElement();
        return;
    }
    // <class>, <resources>, <connections>, <customwidgets>, ...
    if (widgets_.empty())
        xml_.skipCurrentElement();
}

bool Parser::run()
{
    out_ = Model{};
    if (!xml_.readNextStartElement() || xml_.name() != u"ui")
        return fail(QStringLiteral("not a UI file (no <ui> root)"));

    // Depth counting by hand: readNextStartElement would hide the end tags of
    // <widget>, which we need to pop the stack.
    while (!xml_.atEnd()) {
        const auto tok = xml_.readNext();
        if (tok == QXmlStreamReader::EndElement && xml_.name() == u"widget") {
            widgets_.pop_back();
            continue;
        }
        if (tok != QXmlStreamReader::StartElement)
            continue;
        const QStringView tag = xml_.name();
        const auto attrs = xml_.attributes();
        bool ok = true;
        if (tag == u"widget")
            ok = onWidget(attrs);
        else if ((tag == u"property" || tag == u"attribute") && !widgets_.empty())
            ok = onProperty(tag, attrs);
        else
            skipForeign(tag);
        if (!ok)
            return false;
        if (xml_.hasError())
            break;
    }
    if (xml_.hasError())
        return fail(xml_.errorString());
    if (!sawTop_)
        return failWith(error_, QStringLiteral("no top-level widget"));
    for (const Panel &p : out_.panels)
        if (p.number <= 0)
            return failWith(error_, QStringLiteral("panel %1 has no panelNumber").arg(p.name));
    return true;
}

} // namespace

bool parse(const QByteArray &data, Model &out, QString *error)
{
    return Parser(data, out, error).run();
}

bool bindIds(Panel &panel, const std::vector<KnownControl> &known, QString *error)
{
    int next = 2;
    for (const KnownControl &k : known)
        next = std::max(next, k.id + 1);
    std::vector<Control> bound;
    bound.reserve(panel.controls.size());
    for (const KnownControl &k : known) {
        const Control *c = panel.find(k.name);
        if (!c)
            return failWith(error, QStringLiteral("control %1 is missing from panel %2").arg(k.name, panel.name));
        bound.push_back(*c);
        bound.back().id = k.id;
    }
    // What the file adds keeps its document order, after the known ones.
    for (const Control &c : panel.controls) {
        const bool isKnown = std::any_of(known.begin(), known.end(),
                                         [&c](const KnownControl &k) { return k.name == c.name; });
        if (!isKnown) {
            bound.push_back(c);
            bound.back().id = next++;
        }
    }
    panel.controls = std::move(bound);
    return true;
}

QByteArray header(const Model &model, const QString &sourceName)
{
    QByteArray h;
    h += "// ui_ids.h - panel and control constants of " + sourceName.toUtf8()
       + ", written by uirgen at build time; edit the resource file instead.\n";
    h += "#pragma once\n\n#include \"platform/ui/ui.h\"\n";
    for (const Panel &p : model.panels) {
        h += "\nenum {\n";
        h += "    " + p.name.toUtf8() + " = " + QByteArray::number(p.number) + ",\n";
        for (const Control &c : p.controls)
            h += "    " + c.name.toUtf8() + " = " + QByteArray::number(c.id) + ",\n";
        h += "};\n";
    }
    // LoadPanel finds the controls by these names, whatever order a later
    // edit of the file puts them in.
    h += "\ninline constexpr UiControlName qvarControlNames[] = {\n";
    for (const Panel &p : model.panels)
        for (const Control &c : p.controls)
            h += "    {" + p.name.toUtf8() + ", \"" + c.name.toUtf8() + "\", " + c.name.toUtf8() + "},\n";
    h += "};\ninline constexpr int qvarControlNameCount =\n"
         "    int(sizeof qvarControlNames / sizeof qvarControlNames[0]);\n";
    return h;
}

} // namespace qvar::uir
