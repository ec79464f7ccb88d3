// ui_panels.cpp - start-up, the panel registry, loading panels from the
// resource file, panel attributes and panel images.
#include "platform/ui/ui_internal.h"
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

int checkCallbacks(const uir::Panel &desc)
{
    const auto &table = callbackTable();
    if (!desc.callback.isEmpty()) {
        auto it = table.constFind(desc.callback);
        if (it == table.constEnd() || !it->panel)
            return UI_ERR_CALLBACK;
    }
    for (const uir::Control &c : desc.controls) {
        if (c.callback.isEmpty())
            continue;
        auto it = table.constFind(c.callback);
        if (it == table.constEnd() || !it->control)
            return UI_ERR_CALLBACK;
    }
    return 0;
}

void forgetPanel(int handle)
{
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
    return it->second.get();
}

QString programFile(const QString &name)
{
    if (name.contains(u'/'))
        return name;
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QStringLiteral(".");
    return dir + u'/' + name;
}

} // namespace qvar::ui

using namespace qvar::ui;
namespace uir = qvar::uir;

int InitUserInterface(int argc, char *argv[])
{
    if (started()) {
        qApp->setQuitOnLastWindowClosed(false);
        initLoop();
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

int LoadPanel(int parentPanel, const char *file, int resourceNumber)
{
    if (!started())
        return UI_ERR_NOT_STARTED;
    Panel *parent = nullptr;
    if (parentPanel != 0 && !(parent = findPanel(parentPanel)))
        return UI_ERR_PANEL;
    if (!file || !*file)
        return UI_ERR_FILE;

    QFile f(programFile(QString::fromLocal8Bit(file)));
    if (!f.open(QIODevice::ReadOnly))
        return UI_ERR_FILE;
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return UI_ERR_FILE;

    uir::Model model;
    if (!uir::parse(data, model, nullptr))
        return UI_ERR_FORMAT;
    const uir::Panel *desc = model.find(resourceNumber);
    if (!desc)
        return UI_ERR_NO_PANEL;
    if (int rc = checkCallbacks(*desc); rc < 0)
        return rc;

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QUiLoader loader;
    std::unique_ptr<QWidget> top(loader.load(&buffer, nullptr));
    if (!top)
        return UI_ERR_FORMAT;
    QWidget *page = takePage(top.get(), desc->name);
    top.reset();
    if (!page)
        return UI_ERR_FORMAT;

    auto p = std::make_unique<Panel>();
    p->handle = nextHandle()++;
    p->parent = parentPanel;
    p->number = resourceNumber;
    p->name = desc->name;
    p->w = page;
    if (!desc->callback.isEmpty()) {
        p->cb = callbackTable().value(desc->callback).panel;
    }
    page->setProperty("qvarPanel", p->handle);

    if (desc->width > 0 && desc->height > 0)
        page->setFixedSize(desc->width, desc->height);
    if (parent) {
        page->setParent(parent->w);
        page->move(0, 0);
    } else {
        page->setWindowTitle(desc->title.isEmpty() ? desc->name : desc->title);
        page->installEventFilter(new CloseGuard(p->handle, page));
    }
    page->hide();

    for (const uir::Control &cd : desc->controls) {
        QWidget *w = page->findChild<QWidget *>(cd.name);
        if (!w) {
            delete page;
            return UI_ERR_FORMAT;
        }
        auto c = std::make_unique<Ctrl>();
        c->id = cd.id;
        c->name = cd.name;
        c->kind = kindOf(cd);
        c->w = w;
        c->inner = w;
        if (!cd.callback.isEmpty())
            c->cb = callbackTable().value(cd.callback).control;
        setupControl(*p, *c, cd);
        p->nextId = std::max(p->nextId, cd.id + 1);
        p->ctrls.emplace(cd.id, std::move(c));
    }
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
    case ATTR_WIDTH: w->setFixedWidth(value); break;
    case ATTR_HEIGHT: w->setFixedHeight(value); break;
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
    default: return UI_ERR_ATTRIBUTE;
    }
    if (value)
        *value = v;
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
