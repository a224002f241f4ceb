// textwindow: a window with one focused text field, for tests that type or paste into a real
// application on a test display and need to see exactly what arrived.
//
// Usage: textwindow [--title TEXT] [--class NAME] [--terminal] [--focus button] [--slow MS]
//   --class NAME    the WM_CLASS instance name (the class name is NAME with a capital)
//   --terminal      behave like a terminal: WM_CLASS "gnome-terminal-server" unless --class
//                   says otherwise; Ctrl+Shift+V pastes the clipboard, Shift+Insert the primary
//                   selection, and Ctrl+V types U+0016 as a shell would receive it
//   --focus button  put the focus on a push button, an element that takes no text
//   --slow MS       take MS milliseconds over every key press, as a busy application does
//
// Standard output, one JSON object per line, flushed at once:
//   {"event":"ready","window":1234567}    once the window is active; "window" is its X id
//   {"event":"active","active":false}     whenever the window gains or loses the focus
//   {"event":"text","text":"…"}           after every change of the field's whole text
//   {"event":"key","key":"V","modifiers":["ctrl","shift"],"text":"\u0016"}
//                                         for every key press the focused widget receives
#include <cstdio>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

void emitLine(const QJsonObject &object)
{
    std::puts(QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// Reports every key press and, in terminal mode, gives the paste keys a terminal's meaning.
class KeyWatcher final : public QObject
{
public:
    KeyWatcher(QPlainTextEdit *field, bool terminal, int slowMs)
        : m_field(field)
        , m_terminal(terminal)
        , m_slowMs(slowMs)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool activate = event->type() == QEvent::WindowActivate;
        if ((activate || event->type() == QEvent::WindowDeactivate) && watched == m_field->window()) {
            if (activate && !std::exchange(m_ready, true))
                emitLine({{u"event"_s, u"ready"_s}, {u"window"_s, qint64(m_field->window()->winId())}});
            emitLine({{u"event"_s, u"active"_s}, {u"active"_s, activate}});
        }
        // A press the focused widget ignores travels on to the window: report it once.
        if (event->type() != QEvent::KeyPress || watched != QApplication::focusWidget())
            return false;
        QThread::msleep(m_slowMs);
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers();
        QJsonArray names;
        for (const auto &[modifier, name] : {std::pair{Qt::ControlModifier, u"ctrl"_s}, {Qt::AltModifier, u"alt"_s},
                                             {Qt::ShiftModifier, u"shift"_s}, {Qt::MetaModifier, u"super"_s}}) {
            if (modifiers & modifier)
                names.append(name);
        }
        emitLine({{u"event"_s, u"key"_s}, {u"key"_s, QKeySequence(key->key()).toString()}, {u"modifiers"_s, names},
                  {u"text"_s, key->text()}});
        if (!m_terminal || watched != m_field)
            return false;
        const auto is = [&](Qt::Key k, Qt::KeyboardModifiers wanted) {
            return key->key() == k
                && (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier)) == wanted;
        };
        if (is(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier))
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
        else if (is(Qt::Key_Insert, Qt::ShiftModifier))
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Selection));
        else if (is(Qt::Key_V, Qt::ControlModifier))
            m_field->insertPlainText(QString(QChar(0x16)));
        else
            return false;
        return true;
    }

private:
    QPlainTextEdit *m_field;
    bool m_terminal;
    int m_slowMs;
    bool m_ready = false;
};

} // namespace

int main(int argc, char **argv)
{
    QString title = u"Murmel text window"_s;
    QString className;
    bool terminal = false;
    bool focusButton = false;
    int slowMs = 0;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (argument == "--title" && hasValue) {
            title = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--class" && hasValue) {
            className = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--terminal") {
            terminal = true;
        } else if (argument == "--focus" && hasValue) {
            focusButton = QByteArray(argv[++i]) == "button";
        } else if (argument == "--slow" && hasValue) {
            slowMs = QByteArray(argv[++i]).toInt();
        } else {
            std::fprintf(stderr, "textwindow: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (className.isEmpty())
        className = terminal ? u"gnome-terminal-server"_s : u"textwindow"_s;
    // Qt's X11 platform takes the WM_CLASS instance name from RESOURCE_NAME and the class
    // name from the application name.
    qputenv("RESOURCE_NAME", className.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationName(className.at(0).toUpper() + className.mid(1));

    QWidget window;
    window.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QPlainTextEdit(&window);
    field->setAccessibleName(u"Text"_s);
    auto *button = new QPushButton(u"Button"_s, &window);
    layout->addWidget(field);
    layout->addWidget(button);
    window.resize(480, 320);

    KeyWatcher watcher(field, terminal, slowMs);
    for (QObject *object : std::initializer_list<QObject *>{&window, field, button})
        object->installEventFilter(&watcher);
    QObject::connect(field, &QPlainTextEdit::textChanged, field,
                     [field] { emitLine({{u"event"_s, u"text"_s}, {u"text"_s, field->toPlainText()}}); });
    window.show();
    (focusButton ? static_cast<QWidget *>(button) : field)->setFocus();
    return app.exec();
}
