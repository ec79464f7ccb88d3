// ui_panels.cpp - start-up, the panel registry, loading panels from the
// resource file, panel attributes and panel images.
#include "platform/ui/ui_internal.h"
#include "platform/files/files_internal.h"
#include "platform/ui/ui_qt.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStackedWidget>
#include <QTabWidget>
#include <QUiLoader>

#include <algorithm>
#include <array>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvar::ui {
namespace {

QHash<QString, UiCallback> &callbackTable()
{
    static QHash<QString, UiCallback> t;
    return t;
}

int &nextHandle()
{
    static int h = 1;
    return h;
}

// The close box must not close: the program decides (EVENT_CLOSE).
class CloseGuard : public QObject {
public:
    explicit CloseGuard(int panel, QObject *parent) : QObject(parent), panel_(panel) {}
    bool eventFilter(QObject *obj, QEvent *ev) override
    {
        if (ev->type() == QEvent::Close && obj == parent()) {
            ev->ignore();
            postEvent(panel_, 0, EVENT_CLOSE);
            return true;
        }
        return false;
    }

private:
    int panel_;
};

bool x11Reachable(const char *display)
{
    // ":N" or ":N.S" is a local socket; anything with a host part we cannot
    // judge cheaply and leave to Qt.
    if (display[0] != ':')
        return true;
    const int n = std::atoi(display + 1);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "/tmp/.X11-unix/X%d", n);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool waylandReachable(const char *name)
{
    QString path = QString::fromLocal8Bit(name);
    if (!path.startsWith(u'/')) {
        const char *dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir)
            return false;
        path = QString::fromLocal8Bit(dir) + u'/' + path;
    }
    return QFileInfo::exists(path);
}

// Why no window can be shown, or empty when one can.
QString displayProblem()
{
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa)
        return {};
    const char *wl = std::getenv("WAYLAND_DISPLAY");
    if (wl && *wl && waylandReachable(wl))
        return {};
    const char *x = std::getenv("DISPLAY");
    if (!x || !*x)
        return QStringLiteral("DISPLAY is not set");
    if (!x11Reachable(x))
        return QStringLiteral("the X server at DISPLAY=%1 does not answer").arg(QString::fromLocal8Bit(x));
    return {};
}

QWidget *takePage(QWidget *top, const QString &name)
{
    if (auto *tabs = qobject_cast<QTabWidget *>(top)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->objectName() == name) {
                QWidget *page = tabs->widget(i);
                tabs->removeTab(i);
                page->setParent(nullptr);
                return page;
            }
    } else if (auto *stack = qobject_cast<QStackedWidget *>(top)) {
        for (int i = 0; i < stack->count(); ++i)
            if (stack->widget(i)->objectName() == name) {
                QWidget *page = stack->widget(i);
                stack->removeWidget(page);
                page->setParent(nullptr);
                return page;
            }
    }
    return nullptr;
}

// The first callback name of the panel the table lacks (or names for the
// other kind of callback); empty when all are there.
QString missingCallback(const uir::Panel &desc)
{
    const auto &table = callbackTable();
    if (!desc.callback.isEmpty()) {
        auto it = table.constFind(desc.callback);
        if (it == table.constEnd() || !it->panel)
            return desc.callback;
    }
    for (const uir::Control &c : desc.controls) {
        if (c.callback.isEmpty())
            continue;
        auto it = table.constFind(c.callback);
        if (it == table.constEnd() || !it->control)
            return c.callback;
    }
    return {};
}

// The controls found last, by (panel, control): a loop at full speed sets a
// dozen of them per exchange, and two map searches each were a tenth of its
// time. Controls leave only with their panel, which empties the table.
struct Found {
    int panel = 0, control = 0;
    Panel *p = nullptr;
    Ctrl *c = nullptr;
};

std::array<Found, 64> &found()
{
    static std::array<Found, 64> table;
    return table;
}

Found &foundSlot(int panel, int control)
{
    return found()[static_cast<size_t>(panel * 31 + control) & 63];
}

void forgetPanel(int handle)
{
    found().fill(Found{});
    // Children first: their widgets die with the parent's.
    std::vector<int> children;
    for (auto &[h, p] : panels())
        if (p->parent == handle)
            children.push_back(h);
    for (int h : children)
        forgetPanel(h);
    panels().erase(handle);
}

} // namespace

bool started()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

std::map<int, std::unique_ptr<Panel>> &panels()
{
    static std::map<int, std::unique_ptr<Panel>> m;
    return m;
}

Panel *findPanel(int handle)
{
    auto it = panels().find(handle);
    if (it == panels().end() || !it->second->w)
        return nullptr;
    return it->second.get();
}

Ctrl *findCtrl(int panel, int control, int *err)
{
    Found &f = foundSlot(panel, control);
    if (f.c && f.panel == panel && f.control == control && f.p->w && f.c->w)
        return f.c;
    Panel *p = findPanel(panel);
    if (!p) {
        *err = started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
        return nullptr;
    }
    auto it = p->ctrls.find(control);
    if (it == p->ctrls.end() || !it->second->w) {
        *err = UI_ERR_CONTROL;
        return nullptr;
    }
    f = Found{panel, control, p, it->second.get()};
    return f.c;
}

QString programFile(const QString &name)
{
    if (name.contains(u'/'))
        return name;
    const QByteArray bare = QFile::encodeName(name);
    char path[FILE_PATH_MAX];
    if (FindResourceFile(bare.constData(), path) == 0)
        return QFile::decodeName(path);
    // Found nowhere: the first folder, so that the failure names a place.
    char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX];
    if (GetResourceDirs(dirs) > 0)
        return QFile::decodeName(dirs[0]) + u'/' + name;
    return name;
}

int readBounded(const QString &path, size_t max, QByteArray &data, QString *why)
{
    std::string text;
    const int rc = files::ReadRegularFile(QFile::encodeName(path).constData(), max, text);
    if (rc == 0) {
        data = QByteArray(text.data(), qsizetype(text.size()));
        return 0;
    }
    if (why) {
        *why = rc == FILE_ERR_TOO_BIG ? QStringLiteral("larger than %1 MiB").arg(max >> 20)
             : rc == FILE_ERR_OPEN    ? QStringLiteral("missing, unreadable or not a regular file")
                                      : QStringLiteral("read failed");
    }
    return UI_ERR_FILE;
}

void placeTabStops(const std::vector<QWidget *> &stops, QWidget *before)
{
    // Qt orders only widgets that take the focus: the stops follow the
    // nearest of those ahead of `before`.
    const auto moving = [&stops](QWidget *w) { return std::find(stops.begin(), stops.end(), w) != stops.end(); };
    QWidget *prev = before->previousInFocusChain();
    while (prev != before && prev != before->window() && (prev->focusPolicy() == Qt::NoFocus || moving(prev)))
        prev = prev->previousInFocusChain();
    if (prev == before || prev == before->window())
        return;
    for (QWidget *w : stops) {
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        QWidget::setTabOrder(prev, w);
        prev = w;
    }
}

} // namespace qvar::ui

using namespace qvar::ui;
namespace uir = qvar::uir;

int InitUserInterface(int argc, char *argv[])
{
    if (started()) {
        qApp->setQuitOnLastWindowClosed(false);
        initLoop();
        installAccess();
        return 1;
    }
    const QString problem = displayProblem();
    if (!problem.isEmpty()) {
        std::fprintf(stderr,
                     "qvar-scope: no display available (%s); start it from a desktop session, "
                     "or set QT_QPA_PLATFORM=offscreen to run without one\n",
                     qPrintable(problem));
        return 0;
    }
    // QApplication keeps references to both for its whole life.
    static int s_argc = 0;
    static std::vector<char *> s_argv;
    s_argv.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        s_argv.push_back(argv[i]);
    if (s_argv.empty())
        s_argv.push_back(const_cast<char *>("qvar-scope"));
    s_argc = int(s_argv.size());
    s_argv.push_back(nullptr);
    new QApplication(s_argc, s_argv.data());
    qApp->setQuitOnLastWindowClosed(false);
    initLoop();
    installAccess();
    return 1;
}

void SetCallbackTable(const UiCallback *table, int count)
{
    auto &t = callbackTable();
    t.clear();
    for (int i = 0; table && i < count; ++i)
        if (table[i].name)
            t.insert(QString::fromUtf8(table[i].name), table[i]);
}

namespace {

// Far above any panel file; a larger one is not ours.
constexpr size_t kMaxResourceBytes = size_t(4) << 20;

QByteArray &lastLoadError()
{
    static QByteArray e;
    return e;
}

int failLoad(int code, const QString &path, const QString &why)
{
    lastLoadError() = QStringLiteral("%1: %2").arg(path, why).toLocal8Bit();
    return code;
}

std::map<int, std::vector<uir::KnownControl>> &knownControls()
{
    static std::map<int, std::vector<uir::KnownControl>> m;
    return m;
}

// The panel with `number` as the program will use it: ids bound by name
// where the program knows the names, every callback it names in the table.
int describePanel(const QString &path, const QByteArray &data, int number, uir::Panel &desc)
{
    uir::Model model;
    QString why;
    if (!uir::parse(data, model, &why))
        return failLoad(UI_ERR_FORMAT, path, why);
    const uir::Panel *found = model.find(number);
    if (!found)
        return failLoad(UI_ERR_NO_PANEL, path, QStringLiteral("no panel number %1").arg(number));
    desc = *found;
    const auto known = knownControls().find(number);
    if (known != knownControls().end() && !uir::bindIds(desc, known->second, &why))
        return failLoad(UI_ERR_MISSING, path, why);
    if (const QString cb = missingCallback(desc); !cb.isEmpty())
        return failLoad(UI_ERR_CALLBACK, path, QStringLiteral("unknown callback %1").arg(cb));
    return 0;
}

QWidget *buildPage(const QByteArray &data, const QString &name)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QUiLoader loader;
    std::unique_ptr<QWidget> top(loader.load(&buffer, nullptr));
    return top ? takePage(top.get(), name) : nullptr;
}

std::unique_ptr<Panel> makePanel(QWidget *page, const uir::Panel &desc, int parentHandle, int number)
{
    auto p = std::make_unique<Panel>();
    p->handle = nextHandle()++;
    p->parent = parentHandle;
    p->number = number;
    p->name = desc.name;
    p->w = page;
    if (!desc.callback.isEmpty())
        p->cb = callbackTable().value(desc.callback).panel;
    page->setProperty("qvarPanel", p->handle);

    if (desc.width > 0 && desc.height > 0)
        page->setFixedSize(desc.width, desc.height);
    if (Panel *parent = parentHandle ? findPanel(parentHandle) : nullptr) {
        page->setParent(canvasOf(*parent));
        page->move(0, 0);
    } else {
        page->setWindowTitle(desc.title.isEmpty() ? desc.name : desc.title);
        page->installEventFilter(new CloseGuard(p->handle, page));
    }
    page->hide();
    return p;
}

// The name of the first control without a widget, or empty when all were set up.
QString addControls(Panel &p, const uir::Panel &desc)
{
    for (const uir::Control &cd : desc.controls) {
        QWidget *w = p.w->findChild<QWidget *>(cd.name);
        if (!w)
            return cd.name;
        auto c = std::make_unique<Ctrl>();
        c->id = cd.id;
        c->name = cd.name;
        c->kind = kindOf(cd);
        c->w = w;
        c->inner = w;
        if (!cd.callback.isEmpty())
            c->cb = callbackTable().value(cd.callback).control;
        setupControl(p, *c, cd);
        p.nextId = std::max(p.nextId, cd.id + 1);
        p.ctrls.emplace(cd.id, std::move(c));
    }
    return {};
}

// A child panel's controls, in their own Tab order, come before the
// parent's control the file names: its fields are met where they belong in
// the parent's reading order, not after everything else.
void placeInTabOrder(const Panel &child, const QString &before)
{
    Panel *parent = findPanel(child.parent);
    QWidget *next = parent && !before.isEmpty() ? parent->w->findChild<QWidget *>(before) : nullptr;
    if (!next || child.w->isAncestorOf(next))
        return;
    std::vector<QWidget *> mine;
    for (QWidget *w = child.w->nextInFocusChain(); w != child.w; w = w->nextInFocusChain())
        if (child.w->isAncestorOf(w))
            mine.push_back(w);
    placeTabStops(mine, next);
}

} // namespace

void SetControlNames(const UiControlName *table, int count)
{
    auto &known = knownControls();
    known.clear();
    for (int i = 0; table && i < count; ++i)
        if (table[i].name)
            known[table[i].panel].push_back({QString::fromUtf8(table[i].name), table[i].id});
}

const char *LoadPanelError(void) { return lastLoadError().constData(); }

int LoadPanel(int parentPanel, const char *file, int resourceNumber)
{
    lastLoadError().clear();
    if (!started())
        return UI_ERR_NOT_STARTED;
    if (parentPanel != 0 && !findPanel(parentPanel))
        return failLoad(UI_ERR_PANEL, QString::fromLocal8Bit(file ? file : ""),
                        QStringLiteral("no parent panel %1").arg(parentPanel));
    if (!file || !*file)
        return failLoad(UI_ERR_FILE, QString(), QStringLiteral("no file name"));

    const QString path = programFile(QString::fromLocal8Bit(file));
    QByteArray data;
    QString why;
    if (readBounded(path, kMaxResourceBytes, data, &why) < 0)
        return failLoad(UI_ERR_FILE, path, why);
    uir::Panel desc;
    if (int rc = describePanel(path, data, resourceNumber, desc); rc < 0)
        return rc;

    QWidget *page = buildPage(data, desc.name);
    if (!page)
        return failLoad(UI_ERR_FORMAT, path, QStringLiteral("panel %1 cannot be built").arg(desc.name));
    auto p = makePanel(page, desc, parentPanel, resourceNumber);
    if (const QString lost = addControls(*p, desc); !lost.isEmpty()) {
        delete page;
        return failLoad(UI_ERR_FORMAT, path, QStringLiteral("control %1 has no widget").arg(lost));
    }
    if (parentPanel != 0)
        placeInTabOrder(*p, desc.tabBefore);
    const int handle = p->handle;
    panels().emplace(handle, std::move(p));
    return handle;
}

int DisplayPanel(int panel)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    p->w->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))   // it only warns there
        p->w->raise();
    noteActivity();
    return 0;
}

int HidePanel(int panel)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    p->w->hide();
    noteActivity();
    return 0;
}

int DiscardPanel(int panel)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    // The widgets go first: signals they might still send during destruction
    // find their controls alive, and the child panels' widgets go with them.
    delete p->w.data();
    forgetPanel(panel);
    return 0;
}

int SetPanelAttribute(int panel, int attribute, int value)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    QWidget *w = p->w;
    switch (attribute) {
    case ATTR_VISIBLE: w->setVisible(value != 0); break;
    case ATTR_DIMMED: w->setEnabled(value == 0); break;
    case ATTR_LEFT: w->move(value, w->y()); break;
    case ATTR_TOP: w->move(w->x(), value); break;
    case ATTR_WIDTH: sizable(*p) ? w->resize(value, w->height()) : w->setFixedWidth(value); break;
    case ATTR_HEIGHT: sizable(*p) ? w->resize(w->width(), value) : w->setFixedHeight(value); break;
    case ATTR_SIZABLE:
        if (p->parent)
            return UI_ERR_ATTRIBUTE;
        setSizable(*p, value != 0);
        break;
    default: return UI_ERR_ATTRIBUTE;
    }
    noteActivity();
    return 0;
}

int GetPanelAttribute(int panel, int attribute, int *value)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    const QWidget *w = p->w;
    int v = 0;
    switch (attribute) {
    case ATTR_VISIBLE: v = w->isVisibleTo(w->parentWidget() ? w->parentWidget() : w) && !w->isHidden(); break;
    case ATTR_DIMMED: v = !w->isEnabled(); break;
    case ATTR_LEFT: v = w->x(); break;
    case ATTR_TOP: v = w->y(); break;
    case ATTR_WIDTH: v = w->width(); break;
    case ATTR_HEIGHT: v = w->height(); break;
    case ATTR_SIZABLE: v = sizable(*p); break;
    default: return UI_ERR_ATTRIBUTE;
    }
    if (value)
        *value = v;
    return 0;
}

int SetPanelAttribute(int panel, int attribute, const char *text)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    if (attribute != ATTR_TITLE || p->parent)
        return UI_ERR_ATTRIBUTE;
    p->w->setWindowTitle(QString::fromUtf8(text ? text : ""));
    noteActivity();
    return 0;
}

int GetPanelAttribute(int panel, int attribute, char *buffer, int size)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    if (attribute != ATTR_TITLE || p->parent)
        return UI_ERR_ATTRIBUTE;
    const QByteArray title = p->w->windowTitle().toUtf8();
    if (!buffer || size <= title.size())
        return UI_ERR_TOO_LONG;
    std::memcpy(buffer, title.constData(), static_cast<size_t>(title.size()) + 1);
    return 0;
}

int SetPanelPos(int panel, int top, int left)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    p->w->move(left, top);
    return 0;
}

int SavePanelImage(int panel, const char *pngFile)
{
    Panel *p = findPanel(panel);
    if (!p)
        return started() ? UI_ERR_PANEL : UI_ERR_NOT_STARTED;
    if (!pngFile || !*pngFile)
        return UI_ERR_FILE;
    flushDirty();
    p->w->ensurePolished();
    QCoreApplication::sendPostedEvents();
    const QPixmap img = p->w->grab();
    return img.save(QString::fromLocal8Bit(pngFile), "PNG") ? 0 : UI_ERR_FILE;
}

QWidget *UiPanelWidget(int panel)
{
    Panel *p = findPanel(panel);
    return p ? p->w.data() : nullptr;
}

QWidget *UiCtrlWidget(int panel, int control)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return nullptr;
    flushDirty();
    return c->w;
}
