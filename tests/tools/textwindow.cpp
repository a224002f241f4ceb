// textwindow: a window with one focused text field, for tests that type or paste into a real
// application on a test display and need to see exactly what arrived.
//
// Usage: textwindow [--title TEXT] [--class NAME] [--terminal] [--focus button] [--slow MS] [--activate]
//   --class NAME    the WM_CLASS instance name (the class name is NAME with a capital)
//   --terminal      behave like a terminal: WM_CLASS "gnome-terminal-server" unless --class
//                   says otherwise; Ctrl+Shift+V pastes the clipboard, Shift+Insert the primary
//                   selection, and Ctrl+V types U+0016 as a shell would receive it
//   --focus button  put the focus on a push button, an element that takes no text
//   --slow MS       take MS milliseconds over every key press, as a busy application does
//   --activate      ask the window manager for the focus every second until it first comes
//
// Standard output, one JSON object per line, flushed at once:
//   {"event":"ready","window":1234567}    once the window is active; "window" is its X id
//   {"event":"active","active":false}     whenever the window gains or loses the focus
//   {"event":"text","text":"…"}           after every change of the field's whole text
//   {"event":"key","key":"V","modifiers":["ctrl","shift"]}
//                                         for every key press the focused widget receives
#include <cstdio>
#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
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

    // Whether the window has ever been active.
    bool ready() const { return m_ready; }

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
        emitLine({{u"event"_s, u"key"_s}, {u"key"_s, QKeySequence(key->key()).toString()}, {u"modifiers"_s, names}});
        if (!m_terminal || watched != m_field)
            return false;
        const QKeyCombination pressed(
            modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier), Qt::Key(key->key()));
        if (pressed == (Qt::CTRL | Qt::SHIFT | Qt::Key_V))
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
        else if (pressed == (Qt::SHIFT | Qt::Key_Insert))
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Selection));
        else if (pressed == (Qt::CTRL | Qt::Key_V))
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
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption title(u"title"_s, {}, u"text"_s, u"Murmel text window"_s);
    const QCommandLineOption windowClass(u"class"_s, {}, u"name"_s);
    const QCommandLineOption terminal(u"terminal"_s);
    const QCommandLineOption focus(u"focus"_s, {}, u"widget"_s);
    const QCommandLineOption slow(u"slow"_s, {}, u"ms"_s, u"0"_s);
    const QCommandLineOption activate(u"activate"_s);
    parser.addOptions({title, windowClass, terminal, focus, slow, activate});
    parser.process(app);
    QString className = parser.value(windowClass);
    if (className.isEmpty())
        className = parser.isSet(terminal) ? u"gnome-terminal-server"_s : u"textwindow"_s;
    // Qt's X11 platform reads the WM_CLASS instance name from RESOURCE_NAME and the class name
    // from the application name when it makes the first window.
    qputenv("RESOURCE_NAME", className.toLocal8Bit());
    QApplication::setApplicationName(className.at(0).toUpper() + className.mid(1));

    QWidget window;
    window.setWindowTitle(parser.value(title));
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QPlainTextEdit(&window);
    field->setAccessibleName(u"Text"_s);
    auto *button = new QPushButton(u"Button"_s, &window);
    layout->addWidget(field);
    layout->addWidget(button);
    window.resize(480, 320);

    KeyWatcher watcher(field, parser.isSet(terminal), parser.value(slow).toInt());
    app.installEventFilter(&watcher);
    QObject::connect(field, &QPlainTextEdit::textChanged, field,
                     [field] { emitLine({{u"event"_s, u"text"_s}, {u"text"_s, field->toPlainText()}}); });
    window.show();
    (parser.value(focus) == u"button" ? static_cast<QWidget *>(button) : field)->setFocus();
    // openbox maps a window without the focus when it comes while openbox is still settling
    // in, which a busy machine makes likely; an explicit request then still gets it. Once the
    // window has had the focus, whoever takes it away keeps it.
    QTimer activation;
    if (parser.isSet(activate)) {
        QObject::connect(&activation, &QTimer::timeout, &window, [&] {
            if (watcher.ready())
                activation.stop();
            else
                window.activateWindow();
        });
        activation.start(1000);
    }
    return app.exec();
}
