// ui_controls.cpp - controls: what each kind of widget means as a value, the
// user events it raises, attributes, run-time text controls and list items.
#include "platform/ui/ui_internal.h"
#include "platform/ui/number_display.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextCursor>

#include <cmath>
#include <cstring>

namespace qvar::ui {
namespace {

// A round indicator lamp; values other than 0 light it.
class Led : public QWidget {
public:
    Led(QWidget *parent, QColor on) : QWidget(parent), on_(on) {}
    void setOn(bool v)
    {
        if (v != lit_) {
            lit_ = v;
            update();
        }
    }
    bool isOn() const { return lit_; }
    QColor colour() const { return on_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int d = std::min(width(), height()) - 2;
        const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
        const QColor fill = lit_ ? on_ : on_.darker(400);
        QRadialGradient g(r.center() - QPointF(d / 5.0, d / 5.0), d * 0.7);
        g.setColorAt(0, fill.lighter(lit_ ? 160 : 130));
        g.setColorAt(1, fill);
        p.setBrush(g);
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.drawEllipse(r);
    }

private:
    QColor on_;
    bool lit_ = false;
};

QString numberText(double v)
{
    if (std::floor(v) == v && std::fabs(v) < 1e15)
        return QString::number(static_cast<long long>(v));
    return QString::number(v, 'g', 10);
}

// The placeholder keeps its place in the z-order and its geometry; the real
// widget fills it.
template <typename W>
W *fill(Ctrl &c, W *inner)
{
    inner->setGeometry(0, 0, c.w->width(), c.w->height());
    c.inner = inner;
    return inner;
}

void setLabelFont(QWidget *w, const QFont &f, Ctrl &c)
{
    w->setFont(f);
    if (c.autoSize)
        w->adjustSize();
}

} // namespace

Kind kindOf(const uir::Control &c)
{
    if (c.kind == u"stripchart") return Kind::StripChart;
    if (c.kind == u"graph") return Kind::Graph;
    if (c.kind == u"led") return Kind::Led;
    if (c.kind == u"decoration") return Kind::Decoration;
    if (c.kind == u"picture") return Kind::Picture;
    if (c.kind == u"textbox") return Kind::TextBox;
    const QString &k = c.className;
    if (k == u"QLabel") return Kind::TextMsg;
    if (k == u"QComboBox") return Kind::Ring;
    if (k == u"QRadioButton") return Kind::Radio;
    if (k == u"QCheckBox") return Kind::Toggle;
    if (k == u"QPushButton" || k == u"QToolButton") return Kind::Command;   // refined by checkable
    if (k == u"QSpinBox" || k == u"QDoubleSpinBox") return Kind::Numeric;    // refined by readOnly
    if (k == u"QLineEdit") return Kind::String;
    if (k == u"QPlainTextEdit" || k == u"QTextEdit") return Kind::TextBox;
    return Kind::Other;
}

namespace {

// What the resource file leaves to the program: the refined kind, the
// widget a kind of our own puts in the placeholder, colours.
void setupKind(Ctrl &c, const uir::Control &desc)
{
    QWidget *w = c.w;
    switch (c.kind) {
    case Kind::Command:
        if (auto *b = qobject_cast<QAbstractButton *>(w); b && b->isCheckable())
            c.kind = Kind::Toggle;
        break;
    case Kind::Numeric:
        if (auto *s = qobject_cast<QSpinBox *>(w)) {
            s->setKeyboardTracking(false);
            if (s->isReadOnly()) {
                c.kind = Kind::Display;
                // Not a Tab stop, but a click takes the focus, away from the
                // parameter field typed into last.
                s->setFocusPolicy(Qt::ClickFocus);
                fill(c, new NumberDisplay(s));
            }
            c.value = c.shown = s->value();
        }
        break;
    case Kind::StripChart:
        setupStripChart(c, desc);
        break;
    case Kind::Graph:
        setupGraph(c, desc);
        break;
    case Kind::Led: {
        const QColor on = desc.props.contains(QStringLiteral("onColor"))
                              ? rgbColor(desc.props.value(QStringLiteral("onColor")).toInt())
                              : QColor(0, 200, 0);
        fill(c, new Led(w, on));
        break;
    }
    case Kind::Decoration:
        w->setAutoFillBackground(true);
        if (desc.props.contains(QStringLiteral("frameColor"))) {
            QPalette pal = w->palette();
            pal.setColor(QPalette::Window, rgbColor(desc.props.value(QStringLiteral("frameColor")).toInt()));
            w->setPalette(pal);
        }
        break;
    case Kind::Picture:
        if (auto *l = qobject_cast<QLabel *>(w))
            l->setScaledContents(true);
        break;
    case Kind::Ring:
        if (auto *cb = qobject_cast<QComboBox *>(w))
            setupRing(cb);
        break;
    default:
        break;
    }
}

void connectRing(int ph, Ctrl &c, QComboBox *cb, const uir::Control &desc)
{
    const int id = c.id;
    const QStringList vals = desc.props.value(QStringLiteral("values")).toString()
                                 .split(u',', Qt::SkipEmptyParts);
    for (int i = 0; i < cb->count(); ++i)
        c.ringValues.push_back(i < vals.size() ? vals[i].trimmed().toInt() : i);
    c.ringIndex = cb->currentIndex();
    Ctrl *cp = &c;
    QObject::connect(cb, &QComboBox::activated, cb, [ph, id, cp](int index) {
        if (index != cp->ringIndex) {
            cp->ringIndex = index;
            postEvent(ph, id, EVENT_VAL_CHANGED);
        }
        postEvent(ph, id, EVENT_COMMIT);
    });
}

// User events. Values the program sets go through QSignalBlocker, so these
// fire for the user only.
void connectEvents(int ph, Ctrl &c, const uir::Control &desc)
{
    const int id = c.id;
    QWidget *w = c.w;
    switch (c.kind) {
    case Kind::Command:
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            QObject::connect(b, &QAbstractButton::clicked, b, [ph, id] { postEvent(ph, id, EVENT_COMMIT); });
        break;
    case Kind::Toggle:
    case Kind::Radio:
        if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            if (c.kind == Kind::Radio)
                b->setAutoExclusive(false);
            QObject::connect(b, &QAbstractButton::clicked, b, [ph, id] {
                postEvent(ph, id, EVENT_VAL_CHANGED);
                postEvent(ph, id, EVENT_COMMIT);
            });
        }
        break;
    case Kind::Ring:
        if (auto *cb = qobject_cast<QComboBox *>(w))
            connectRing(ph, c, cb, desc);
        break;
    case Kind::Numeric:
        if (auto *s = qobject_cast<QSpinBox *>(w)) {
            Ctrl *cp = &c;
            QObject::connect(s, &QSpinBox::valueChanged, s, [ph, id, cp](int v) {
                cp->value = cp->shown = v;
                postEvent(ph, id, EVENT_VAL_CHANGED);
                postEvent(ph, id, EVENT_COMMIT);
            });
        }
        break;
    case Kind::String:
        if (auto *e = qobject_cast<QLineEdit *>(w); e && !e->isReadOnly())
            QObject::connect(e, &QLineEdit::textEdited, e, [ph, id] { postEvent(ph, id, EVENT_VAL_CHANGED); });
        break;
    default:
        break;
    }
}

} // namespace

void setupControl(Panel &p, Ctrl &c, const uir::Control &desc)
{
    QWidget *w = c.w;
    w->setProperty("qvarCtrl", c.id);
    if (desc.props.value(QStringLiteral("visible"), true).toBool() == false)
        w->hide();
    setupKind(c, desc);
    connectEvents(p.handle, c, desc);
    if (c.cb)
        hookPresses(w, p.handle, c.id);
    switch (c.kind) {
    case Kind::Command:
    case Kind::Toggle:
    case Kind::Radio:
    case Kind::Ring:
        pressOnReturn(w);
        break;
    case Kind::Display:
    case Kind::Led:
    case Kind::StripChart:
    case Kind::Graph:
        adoptAccess(w);
        break;
    default:
        break;
    }
}

bool lampState(const QWidget *face, bool *lit, QColor *colour)
{
    const auto *led = dynamic_cast<const Led *>(face);
    if (lit)
        *lit = led && led->isOn();
    if (colour)
        *colour = led ? led->colour() : QColor();
    return led != nullptr;
}

void pushDisplay(Ctrl &c)
{
    if (c.kind == Kind::Display) {
        if (auto *d = dynamic_cast<NumberDisplay *>(c.inner)) {
            const int was = d->number();
            d->setNumber(static_cast<int>(c.value));
            if (d->number() != was)
                noteShownChange(c.w);
        }
        c.shown = c.value;
    } else if (c.kind == Kind::StripChart) {
        pushStripChart(c);
    }
}

namespace {

int setNumber(int panel, int control, double v)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    noteActivity();
    QWidget *w = c->w;
    switch (c->kind) {
    case Kind::Display:
        c->value = v;
        if (c->value != c->shown)
            markDirty(panel, *c);
        return 0;
    case Kind::Numeric:
        if (auto *s = qobject_cast<QSpinBox *>(w)) {
            const QSignalBlocker block(s);
            s->setValue(static_cast<int>(std::lround(v)));
            c->value = c->shown = s->value();
            return 0;
        }
        return UI_ERR_VALUE;
    case Kind::Ring: {
        auto *cb = static_cast<QComboBox *>(w);
        const int idx = c->ringValues.indexOf(static_cast<int>(std::lround(v)));
        if (idx < 0)
            return UI_ERR_VALUE;
        const QSignalBlocker block(cb);
        cb->setCurrentIndex(idx);
        c->ringIndex = idx;
        return 0;
    }
    case Kind::Toggle:
    case Kind::Radio: {
        auto *b = static_cast<QAbstractButton *>(w);
        const QSignalBlocker block(b);
        b->setChecked(v != 0);
        return 0;
    }
    case Kind::Led:
        if (c->ledOn != (v != 0)) {
            c->ledOn = v != 0;
            static_cast<Led *>(c->inner)->setOn(c->ledOn);
            noteShownChange(c->w);
        }
        return 0;
    case Kind::TextMsg:
    case Kind::String:
    case Kind::TextBox:
        return SetCtrlVal(panel, control, numberText(v).toUtf8().constData());
    default:
        return UI_ERR_VALUE;
    }
}

int getNumber(int panel, int control, double *out)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    QWidget *w = c->w;
    switch (c->kind) {
    case Kind::Display:
    case Kind::Numeric:
        *out = c->value;
        return 0;
    case Kind::Ring: {
        const int idx = static_cast<QComboBox *>(w)->currentIndex();
        if (idx < 0 || idx >= c->ringValues.size())
            return UI_ERR_VALUE;
        *out = c->ringValues[idx];
        return 0;
    }
    case Kind::Toggle:
    case Kind::Radio:
        *out = static_cast<QAbstractButton *>(w)->isChecked() ? 1 : 0;
        return 0;
    case Kind::Led:
        *out = c->ledOn ? 1 : 0;
        return 0;
    default:
        return UI_ERR_VALUE;
    }
}

QString textOf(const Ctrl &c)
{
    QWidget *w = c.w;
    switch (c.kind) {
    case Kind::TextMsg: return static_cast<QLabel *>(w)->text();
    case Kind::Picture:
        // The file may give this kind to any widget.
        if (auto *l = qobject_cast<QLabel *>(w))
            return l->text();
        return {};
    case Kind::String: return static_cast<QLineEdit *>(w)->text();
    case Kind::TextBox:
        if (auto *e = qobject_cast<QPlainTextEdit *>(w))
            return e->toPlainText();
        return {};
    case Kind::Ring: return static_cast<QComboBox *>(w)->currentText();
    case Kind::Command:
    case Kind::Toggle:
    case Kind::Radio: return static_cast<QAbstractButton *>(w)->text();
    case Kind::Display:
    case Kind::Numeric: return numberText(c.value);
    default: return {};
    }
}

// Role of a colour attribute for the kind of widget at hand.
QPalette::ColorRole textRole(const Ctrl &c)
{
    switch (c.kind) {
    case Kind::Command:
    case Kind::Toggle: return QPalette::ButtonText;
    case Kind::Numeric:
    case Kind::Display:
    case Kind::String:
    case Kind::TextBox: return QPalette::Text;
    default: return QPalette::WindowText;
    }
}

QPalette::ColorRole backRole(const Ctrl &c)
{
    switch (c.kind) {
    case Kind::Command:
    case Kind::Toggle: return QPalette::Button;
    case Kind::Numeric:
    case Kind::Display:
    case Kind::String:
    case Kind::TextBox:
    case Kind::Ring: return QPalette::Base;
    default: return QPalette::Window;
    }
}

} // namespace
} // namespace qvar::ui

using namespace qvar::ui;

int SetCtrlVal(int panel, int control, int value) { return setNumber(panel, control, value); }
int SetCtrlVal(int panel, int control, unsigned value) { return setNumber(panel, control, value); }
int SetCtrlVal(int panel, int control, double value) { return setNumber(panel, control, value); }

int SetCtrlVal(int panel, int control, const char *text)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    noteActivity();
    const QString s = QString::fromUtf8(text ? text : "");
    QWidget *w = c->w;
    switch (c->kind) {
    case Kind::TextMsg:
        static_cast<QLabel *>(w)->setText(s);
        if (c->autoSize)
            w->adjustSize();
        return 0;
    case Kind::String: {
        auto *e = static_cast<QLineEdit *>(w);
        const QSignalBlocker block(e);
        e->setText(s);
        e->setCursorPosition(0);
        return 0;
    }
    case Kind::TextBox:
        // A text box collects lines: setting a value appends; ResetTextBox
        // replaces the whole content.
        if (auto *e = qobject_cast<QPlainTextEdit *>(w)) {
            const QSignalBlocker block(e);
            QTextCursor cur(e->document());
            cur.movePosition(QTextCursor::End);
            cur.insertText(s);
            e->ensureCursorVisible();
            return 0;
        }
        return UI_ERR_VALUE;
    case Kind::Command:
    case Kind::Toggle:
    case Kind::Radio:
        static_cast<QAbstractButton *>(w)->setText(s);
        return 0;
    default: {
        bool ok = false;
        const double v = s.trimmed().toDouble(&ok);
        return ok ? setNumber(panel, control, v) : UI_ERR_VALUE;
    }
    }
}

int GetCtrlVal(int panel, int control, int *value)
{
    double v = 0;
    const int rc = getNumber(panel, control, &v);
    if (rc == 0 && value)
        *value = static_cast<int>(v);
    return rc;
}

int GetCtrlVal(int panel, int control, unsigned short *value)
{
    double v = 0;
    const int rc = getNumber(panel, control, &v);
    if (rc == 0 && value)
        *value = static_cast<unsigned short>(static_cast<long long>(v) & 0xFFFF);
    return rc;
}

int GetCtrlVal(int panel, int control, double *value)
{
    double v = 0;
    const int rc = getNumber(panel, control, &v);
    if (rc == 0 && value)
        *value = v;
    return rc;
}

int GetCtrlString(int panel, int control, char *buffer, int size)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    if (!buffer || size <= 0)
        return UI_ERR_TOO_LONG;
    const QByteArray s = textOf(*c).toUtf8();
    const int n = std::min<int>(s.size(), size - 1);
    std::memcpy(buffer, s.constData(), size_t(n));
    buffer[n] = '\0';
    return s.size() < size ? 0 : UI_ERR_TOO_LONG;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    noteActivity();
    QWidget *w = c->w;
    switch (attribute) {
    case ATTR_DIMMED: w->setEnabled(value == 0); return 0;
    case ATTR_VISIBLE: w->setVisible(value != 0); return 0;
    case ATTR_LEFT: w->move(value, w->y()); return 0;
    case ATTR_TOP: w->move(w->x(), value); return 0;
    case ATTR_WIDTH:
    case ATTR_HEIGHT:
        if (value < 0)
            return UI_ERR_VALUE;
        if (attribute == ATTR_WIDTH)
            w->resize(value, w->height());
        else
            w->resize(w->width(), value);
        c->autoSize = false;
        if (c->inner != w)
            c->inner->setGeometry(0, 0, w->width(), w->height());
        return 0;
    case ATTR_TEXT_COLOR:
    case ATTR_TEXT_BGCOLOR:
    case ATTR_FRAME_COLOR: {
        QPalette pal = w->palette();
        if (attribute == ATTR_TEXT_COLOR) {
            pal.setColor(textRole(*c), rgbColor(value));
        } else {
            const QPalette::ColorRole role = attribute == ATTR_FRAME_COLOR ? QPalette::Window : backRole(*c);
            pal.setColor(role, rgbColor(value));
            if (role == QPalette::Window)
                w->setAutoFillBackground(true);
        }
        w->setPalette(pal);
        return 0;
    }
    case ATTR_TEXT_POINT_SIZE: {
        if (value <= 0)
            return UI_ERR_VALUE;
        // Panels are laid out in pixels, so is text: the banner's fixed positions
        // leave room for texts of that many pixels, whatever the screen's dpi.
        QFont f = w->font();
        f.setPixelSize(value);
        setLabelFont(w, f, *c);
        return 0;
    }
    case ATTR_TEXT_BOLD:
    case ATTR_TEXT_ITALIC: {
        QFont f = w->font();
        if (attribute == ATTR_TEXT_BOLD)
            f.setBold(value != 0);
        else
            f.setItalic(value != 0);
        setLabelFont(w, f, *c);
        return 0;
    }
    case ATTR_NUM_TRACES:
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_SCROLL_MODE:
        return chartAttribute(*c, attribute, value, true, nullptr);
    default:
        return UI_ERR_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *text)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    noteActivity();
    const QString s = QString::fromUtf8(text ? text : "");
    switch (attribute) {
    case ATTR_TEXT_FONT: {
        // Only the application font is known by name; anything else is taken
        // as a family name.
        QFont f = c->w->font();
        const QFont app = QApplication::font();
        f.setFamily(s == QLatin1String(FONT_APPLICATION) ? app.family() : s);
        setLabelFont(c->w, f, *c);
        return 0;
    }
    case ATTR_LABEL_TEXT:
        if (c->kind == Kind::Graph || c->kind == Kind::StripChart)
            return chartLabel(*c, s);
        if (auto *b = qobject_cast<QAbstractButton *>(c->w.data())) {
            b->setText(s);
            return 0;
        }
        if (auto *l = qobject_cast<QLabel *>(c->w.data())) {
            l->setText(s);
            if (c->autoSize)
                l->adjustSize();
            return 0;
        }
        return UI_ERR_ATTRIBUTE;
    default:
        return UI_ERR_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    const QWidget *w = c->w;
    int v = 0;
    switch (attribute) {
    case ATTR_DIMMED: v = !w->isEnabled(); break;
    case ATTR_VISIBLE: v = !w->isHidden(); break;
    case ATTR_LEFT: v = w->x(); break;
    case ATTR_TOP: v = w->y(); break;
    case ATTR_WIDTH: v = w->width(); break;
    case ATTR_HEIGHT: v = w->height(); break;
    case ATTR_TEXT_COLOR: v = rgbValue(w->palette().color(textRole(*c))); break;
    case ATTR_TEXT_BGCOLOR: v = rgbValue(w->palette().color(backRole(*c))); break;
    case ATTR_FRAME_COLOR: v = rgbValue(w->palette().color(QPalette::Window)); break;
    case ATTR_TEXT_POINT_SIZE: v = w->font().pixelSize(); break;
    case ATTR_TEXT_BOLD: v = w->font().bold(); break;
    case ATTR_TEXT_ITALIC: v = w->font().italic(); break;
    case ATTR_NUM_TRACES:
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_SCROLL_MODE:
        return chartAttribute(*c, attribute, 0, false, value);
    default: return UI_ERR_ATTRIBUTE;
    }
    if (value)
        *value = v;
    return 0;
}

int NewCtrl(int panel, int kind, const char *label, int top, int left)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    if (kind != CTRL_TEXT_MSG)
        return UI_ERR_VALUE;
    noteActivity();
    auto *l = new QLabel(QString::fromUtf8(label ? label : ""), canvasOf(*p));
    l->move(left, top);
    l->adjustSize();
    l->show();
    l->raise();
    auto c = std::make_unique<Ctrl>();
    c->id = p->nextId++;
    c->kind = Kind::TextMsg;
    c->name = QStringLiteral("%1_NEW%2").arg(p->name).arg(c->id);
    c->w = l;
    c->inner = l;
    c->autoSize = true;
    l->setProperty("qvarCtrl", c->id);
    const int id = c->id;
    p->ctrls.emplace(id, std::move(c));
    return id;
}

namespace {
// The control's widget as a W: nullptr with *err set when the control does
// not exist or is of another kind.
template <typename W>
W *widgetAs(int panel, int control, int *err, Ctrl **ctrl = nullptr)
{
    Ctrl *c = findCtrl(panel, control, err);
    if (!c)
        return nullptr;
    auto *w = qobject_cast<W *>(c->w.data());
    if (!w)
        *err = UI_ERR_CONTROL;
    else if (ctrl)
        *ctrl = c;
    return w;
}
} // namespace

int ResetTextBox(int panel, int control, const char *text)
{
    int err = 0;
    auto *e = widgetAs<QPlainTextEdit>(panel, control, &err);
    if (!e)
        return err;
    noteActivity();
    const QSignalBlocker block(e);
    e->setPlainText(QString::fromUtf8(text ? text : ""));
    return 0;
}

int ClearListCtrl(int panel, int control)
{
    int err = 0;
    Ctrl *c = nullptr;
    auto *cb = widgetAs<QComboBox>(panel, control, &err, &c);
    if (!cb)
        return err;
    const QSignalBlocker block(cb);
    cb->clear();
    c->ringValues.clear();
    c->ringIndex = -1;
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value)
{
    int err = 0;
    Ctrl *c = nullptr;
    auto *cb = widgetAs<QComboBox>(panel, control, &err, &c);
    if (!cb)
        return err;
    // -1 appends, as does any index past the end.
    if (index < 0 || index > cb->count())
        index = cb->count();
    const QSignalBlocker block(cb);
    cb->insertItem(index, QString::fromUtf8(label ? label : ""));
    c->ringValues.insert(index, value);
    c->ringIndex = cb->currentIndex();
    fitRingList(cb);
    return 0;
}

int SetListItemDimmed(int panel, int control, int index, int dimmed)
{
    int err = 0;
    auto *cb = widgetAs<QComboBox>(panel, control, &err);
    if (!cb)
        return err;
    return ringItemDimmed(cb, index, dimmed != 0);
}

int GetNumListItems(int panel, int control, int *count)
{
    int err = 0;
    auto *cb = widgetAs<QComboBox>(panel, control, &err);
    if (!cb)
        return err;
    if (count)
        *count = cb->count();
    return 0;
}

int DisplayImageFile(int panel, int control, const char *file)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    auto *l = qobject_cast<QLabel *>(c->w.data());
    if (c->kind != Kind::Picture || !l)
        return UI_ERR_CONTROL;
    if (!file || !*file)
        return UI_ERR_FILE;
    // Bounded like the resource file: a logo is a few hundred KiB.
    QByteArray data;
    QPixmap pix;
    if (readBounded(programFile(QString::fromLocal8Bit(file)), size_t(8) << 20, data, nullptr) < 0 ||
        !pix.loadFromData(data))
        return UI_ERR_FILE;
    noteActivity();
    l->setPixmap(pix);
    return 0;
}
